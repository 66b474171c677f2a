// Small text routines shared by every subsystem: UTF-8 checks, repair and
// counting, ASCII case, shortening for messages, trimming, a comparison whose
// duration does not depend on where two texts differ, file stems and
// command-line splitting. Texts are UTF-8 byte strings; nothing here fails or
// throws on malformed input. All functions are pure and thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// True when the bytes are well-formed UTF-8 (no overlong forms, no encoded
// surrogates, nothing above U+10FFFF).
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// The text with each byte that does not start a valid UTF-8 sequence replaced
// by U+FFFD; valid sequences stay as they are.
[[nodiscard]] std::string replace_invalid_utf8(std::string_view text);

// Unicode scalar values in the text; each byte that does not start a valid
// UTF-8 sequence counts as one character of its own.
[[nodiscard]] std::size_t count_characters(std::string_view text);

// Appends the UTF-8 form of one code point. Surrogates and values above
// U+10FFFF are written as U+FFFD.
void append_utf8(std::string& out, char32_t code_point);

// Without ASCII white space (space, tab, CR, LF, VT, FF) at both ends.
[[nodiscard]] std::string trim(std::string_view text);

// ASCII letters lower-cased; every other byte stays as it is.
[[nodiscard]] std::string to_lower_ascii(std::string_view text);

// True when both texts are the same once ASCII letters are lower-cased.
[[nodiscard]] bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

// The file name at the end of a path (after its last \ or /).
[[nodiscard]] std::string_view file_name(std::string_view path);

// The file name at the end of a path (after its last \ or /) without the
// extension (from the name's last '.' on): C:\Apps\Tool.v2.exe gives Tool.v2.
[[nodiscard]] std::string_view file_stem(std::string_view path);

// True when the text holds a line break or an invisible control character:
// C0 controls (tab included), DEL, C1 controls, the Unicode line and paragraph
// separators, the byte-order mark and the bidirectional formatting marks.
[[nodiscard]] bool has_control_character(std::string_view text);

// The text with every such control character, and every byte that is not
// valid UTF-8, replaced by U+FFFD, so that names read from elsewhere cannot
// move the cursor, recolour or clear a terminal, or fake lines. With
// `keep_line_feeds` a line feed stays as it is.
[[nodiscard]] std::string replace_control_characters(std::string_view text, bool keep_line_feeds);

// The text itself when it has at most `limit` characters, otherwise its first
// limit - 1 characters and "…" (U+2026), so the result has exactly `limit`
// characters. A non-empty text with limit 0 gives "…".
[[nodiscard]] std::string shorten(std::string_view text, std::size_t limit);

// A name made safe for a file, registry value or scheduled task name: letters
// and digits (any script) are kept, and so are the separators " -_.,()+&'"
// between them (and a ")" right after the last one); everything else (the characters Windows forbids in names,
// other punctuation, control characters) is dropped, runs of spaces become
// one, and the result is cut to 60 characters. A name with no letter or digit
// gives the empty text.
[[nodiscard]] std::string make_slug(std::string_view name);

// True when both byte strings are equal. The work done depends only on the
// longer length, never on where (or whether) the bytes differ.
[[nodiscard]] bool equal_fixed_time(std::string_view a, std::string_view b);

// The lines of a text, split at '\n' (a final line break adds no empty
// line; a '\r' before it stays with its line).
[[nodiscard]] std::vector<std::string> split_lines(std::string_view text);

// Splits a command line into words. White space outside quotes separates
// words; double quotes group (the quotes are removed, two adjacent quotes make
// an empty word). With `shell_quotes`, apostrophes also group, a backslash
// outside quotes makes the next character literal, and inside double quotes
// a backslash before '"', '$', '\' or '`' stands for that character alone;
// any other backslash is kept. An unclosed quote runs to the end of the text.
[[nodiscard]] std::vector<std::string> split_command_line(std::string_view text, bool shell_quotes);

// The program part of a command line, after trimming white space:
// - text that begins with a double quote: up to the next double quote (or to
//   the end when none follows);
// - otherwise the first space-separated part, except that when that part
//   looks like the start of a path (it holds '\', '/' or ':') and does not
//   itself end in .exe, .com, .bat or .cmd, the program extends over the
//   following parts up to the first one ending in such an extension, so an
//   unquoted "C:\Program Files\App\app.exe -x" gives the whole path. The
//   extension stops at a part that begins with '-', '/' or '"' (a switch or a
//   quoted argument); when no part qualifies the first part is the program.
// Case of the extension does not matter.
[[nodiscard]] std::string program_of_command_line(std::string_view text);

}  // namespace qm
