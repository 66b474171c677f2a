#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "util/text.h"
#include "util/utf8.h"

namespace {

using Words = std::vector<std::string>;

TEST(TextUtf8, ValidityRejectsOverlongSurrogateTooLargeAndTruncatedForms) {
    EXPECT_TRUE(qm::is_valid_utf8(""));
    EXPECT_TRUE(qm::is_valid_utf8("plain"));
    EXPECT_TRUE(qm::is_valid_utf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
    EXPECT_FALSE(qm::is_valid_utf8("\xC0\x80"));          // overlong NUL
    EXPECT_FALSE(qm::is_valid_utf8("\xE0\x80\x80"));      // overlong three-byte form
    EXPECT_FALSE(qm::is_valid_utf8("\xF0\x80\x80\x80"));  // overlong four-byte form
    EXPECT_FALSE(qm::is_valid_utf8("\xED\xA0\x80"));      // encoded surrogate
    EXPECT_FALSE(qm::is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(qm::is_valid_utf8("ab\xE2\x82"));        // cut short at the end
    EXPECT_FALSE(qm::is_valid_utf8("\x80"));              // stray continuation byte
    EXPECT_FALSE(qm::is_valid_utf8("caf\xE9"));
}

TEST(TextUtf8, CountsScalarValuesAndEachBadByteOnce) {
    EXPECT_EQ(qm::count_characters(""), 0u);
    EXPECT_EQ(qm::count_characters("abc"), 3u);
    EXPECT_EQ(qm::count_characters("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), 3u);
    EXPECT_EQ(qm::count_characters("caf\xE9"), 4u);
    EXPECT_EQ(qm::count_characters("\xE2\x82"), 2u);  // a truncated sequence is two bad bytes

    std::string out;
    qm::append_utf8(out, U'A');
    qm::append_utf8(out, 0xE9);
    qm::append_utf8(out, 0x20AC);
    qm::append_utf8(out, 0x1F600);
    qm::append_utf8(out, 0xD800);    // a surrogate cannot be written
    qm::append_utf8(out, 0x110000);  // nor a value beyond Unicode
    EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(TextUtf8, OneSequenceIsItsLengthOrMinusItsLongestWellFormedPrefix) {
    const auto sequence = [](std::string_view bytes) {
        return qm::utf8_sequence(bytes.data(), bytes.data() + bytes.size());
    };
    EXPECT_EQ(sequence("a\xFF"), 1);
    EXPECT_EQ(sequence("\xC3\xA9"), 2);
    EXPECT_EQ(sequence("\xE2\x82\xACx"), 3);
    EXPECT_EQ(sequence("\xF4\x8F\xBF\xBF"), 4);
    EXPECT_EQ(sequence("\x80"), -1);              // a continuation byte cannot lead
    EXPECT_EQ(sequence("\xC1\xBF"), -1);          // overlong two-byte form
    EXPECT_EQ(sequence("\xF5\x80\x80\x80"), -1);  // no lead byte above F4
    EXPECT_EQ(sequence("\xE2\x82"), -2);          // cut short: both bytes are one bad character
    EXPECT_EQ(sequence("\xED\xA0\x80"), -1);      // surrogate: refused at the second byte
    EXPECT_EQ(sequence("\xF0\x9F\x98x"), -3);
}

TEST(TextUtf8, RepairReplacesEachBadByteAndKeepsValidSequences) {
    const std::string mark = "\xEF\xBF\xBD";
    EXPECT_EQ(qm::replace_invalid_utf8("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(qm::replace_invalid_utf8("caf\xE9!"), "caf" + mark + "!");
    EXPECT_EQ(qm::replace_invalid_utf8("\xE2\x82"), mark + mark);  // a truncated sequence is two bad bytes
    EXPECT_EQ(qm::replace_invalid_utf8("\xC2\xE2\x82\xAC"), mark + "\xE2\x82\xAC");
    EXPECT_EQ(qm::replace_invalid_utf8(std::string("a\0\xED\xA0\x80", 5)), std::string("a\0", 2) + mark + mark + mark);
    EXPECT_TRUE(qm::is_valid_utf8(qm::replace_invalid_utf8("\xFF\xC0\x80\xF4\x90\x80\x80")));
}

TEST(TextCase, ComparisonIgnoresOnlyTheCaseOfAsciiLetters) {
    EXPECT_TRUE(qm::equal_ignoring_ascii_case("Content-Length", "content-LENGTH"));
    EXPECT_TRUE(qm::equal_ignoring_ascii_case("", ""));
    EXPECT_FALSE(qm::equal_ignoring_ascii_case("Host", "Hos"));
    EXPECT_FALSE(qm::equal_ignoring_ascii_case("Host", "Hosts"));
    EXPECT_FALSE(qm::equal_ignoring_ascii_case("@[`{", "`{@["));          // neighbours of the letters are not letters
    EXPECT_FALSE(qm::equal_ignoring_ascii_case("\xC3\x89", "\xC3\xA9"));  // nor is anything beyond ASCII
}

TEST(TextFileStem, NameWithoutFolderAndLastExtension) {
    EXPECT_EQ(qm::file_stem("C:\\Program Files\\App\\Tool.v2.EXE"), "Tool.v2");
    EXPECT_EQ(qm::file_stem("/usr/lib/systemd/system/cron.service"), "cron");
    EXPECT_EQ(qm::file_stem("C:/mixed\\sep/name"), "name");
    EXPECT_EQ(qm::file_name("C:\\Users\\b\\backups\\quillmoor-backup-PC-1.json"), "quillmoor-backup-PC-1.json");
    EXPECT_EQ(qm::file_name("plain.json"), "plain.json");
    EXPECT_EQ(qm::file_stem("folder.d/plain"), "plain");  // a dot in a folder is no extension
    EXPECT_EQ(qm::file_stem(".profile"), "");
    EXPECT_EQ(qm::file_stem("ends\\"), "");
    EXPECT_EQ(qm::file_stem(""), "");
}

TEST(TextBasics, TrimLowerAndControlCharacters) {
    EXPECT_EQ(qm::trim(" \t\r\n x y \v\f"), "x y");
    EXPECT_EQ(qm::trim("   "), "");
    EXPECT_EQ(qm::trim("\xC2\xA0x"), "\xC2\xA0x");  // only ASCII white space is removed
    EXPECT_EQ(qm::to_lower_ascii("C:\\Program FILES\\\xC3\x89"), "c:\\program files\\\xC3\x89");

    EXPECT_FALSE(qm::has_control_character("Notes \xC3\xA9\xF0\x9F\x98\x80"));
    EXPECT_FALSE(qm::has_control_character("caf\xE9"));  // a stray byte is not a control
    const std::vector<std::string> controls = {
        "a\nb",          "a\rb",          "a\tb",          std::string("a\0b", 3), "a\x7f",        "a\xC2\x85",
        "a\xE2\x80\xA8", "a\xE2\x80\xAE", "a\xE2\x81\xA6", "\xEF\xBB\xBFx",        "a\xE2\x80\x8F"};
    for (const std::string& text : controls) EXPECT_TRUE(qm::has_control_character(text)) << text;
}

TEST(TextControls, ReplacedForTheTerminalKeepingOnlyWhatIsAsked) {
    const std::string mark = "\xEF\xBF\xBD";
    // Clear screen, recolour, carriage return over a row, a bidirectional override.
    EXPECT_EQ(qm::replace_control_characters("Evil\x1b[2J\rok\xE2\x80\xAEtxt.exe", false),
              "Evil" + mark + "[2J" + mark + "ok" + mark + "txt.exe");
    EXPECT_EQ(qm::replace_control_characters("a\nb\tc", false), "a" + mark + "b" + mark + "c");
    EXPECT_EQ(qm::replace_control_characters("a\nb\tc", true), "a\nb" + mark + "c");
    // C1 controls as characters, a stray byte that a terminal might read as one.
    EXPECT_EQ(qm::replace_control_characters("x\xC2\x9B"
                                             "2Jy\x9B",
                                             true),
              "x" + mark + "2Jy" + mark);
    const std::string plain = "Caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x80\xA6 [ok]";
    EXPECT_EQ(qm::replace_control_characters(plain, false), plain);
}

TEST(TextShorten, KeepsShortTextsAndCutsAtCharacterBoundaries) {
    const std::string ellipsis = "\xE2\x80\xA6";
    EXPECT_EQ(qm::shorten("abcde", 5), "abcde");
    EXPECT_EQ(qm::shorten("abcdef", 5), "abcd" + ellipsis);
    EXPECT_EQ(qm::shorten("abc", 1), ellipsis);
    EXPECT_EQ(qm::shorten("abc", 0), ellipsis);
    EXPECT_EQ(qm::shorten("", 0), "");
    EXPECT_EQ(qm::shorten("a", 0), ellipsis);
    // Multi-byte characters count once and are never split.
    EXPECT_EQ(qm::shorten("\xC3\xA9\xC3\xA9\xC3\xA9", 3), "\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_EQ(qm::shorten("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9" + ellipsis);
    EXPECT_EQ(qm::shorten("\xF0\x9F\x98\x80\xF0\x9F\x98\x80x", 2), "\xF0\x9F\x98\x80" + ellipsis);
    // Stray bytes count as one character each and are kept, not replaced.
    EXPECT_EQ(qm::shorten("\xE9\xE9\xE9", 2), "\xE9" + ellipsis);
    const std::string long_text(500, 'x');
    EXPECT_EQ(qm::count_characters(qm::shorten(long_text, 160)), 160u);
}

TEST(TextEqualFixedTime, ComparesWholeLengthsAndEveryByte) {
    EXPECT_TRUE(qm::equal_fixed_time("", ""));
    EXPECT_TRUE(qm::equal_fixed_time("token-123", "token-123"));
    EXPECT_FALSE(qm::equal_fixed_time("token-123", "token-124"));
    EXPECT_FALSE(qm::equal_fixed_time("Xoken-123", "token-123"));
    EXPECT_FALSE(qm::equal_fixed_time("abc", "ab"));
    EXPECT_FALSE(qm::equal_fixed_time("", "a"));
    // A missing byte counts as 0 in the byte comparison, so only the length
    // check tells these apart.
    EXPECT_FALSE(qm::equal_fixed_time("abc", std::string("abc\0", 4)));
    EXPECT_FALSE(qm::equal_fixed_time("", std::string(1, '\0')));
    EXPECT_FALSE(qm::equal_fixed_time("\xFF", std::string(1, '\0')));
}

struct SplitCase {
    const char* text;
    bool shell_quotes;
    Words words;
};

TEST(TextSplitCommandLine, FollowsTheQuotingRules) {
    const std::vector<SplitCase> cases = {
        {"\"C:\\Program Files\\x.exe\" -a", false, {"C:\\Program Files\\x.exe", "-a"}},
        {"", false, {}},
        {" \t\r\n ", true, {}},
        {"  a   b\tc  ", false, {"a", "b", "c"}},
        {"\"\"", false, {""}},
        {"a \"\" b", false, {"a", "", "b"}},
        {"''", true, {""}},
        {"''", false, {"''"}},
        {"a\"b c\"d e", false, {"ab cd", "e"}},
        {"\"unclosed word", false, {"unclosed word"}},
        {"\"", false, {""}},
        {"it's here", false, {"it's", "here"}},
        {"'it is' here", true, {"it is", "here"}},
        {"'a \"b\" c'", true, {"a \"b\" c"}},
        {"\"a 'b' c\"", true, {"a 'b' c"}},
        // Backslash outside quotes: literal without the flag, escape with it.
        {"C:\\dir\\x.exe", false, {"C:\\dir\\x.exe"}},
        {"a\\ b \\\"c", true, {"a b", "\"c"}},
        {"a\\", true, {"a\\"}},
        {"\\'x", true, {"'x"}},
        // Inside double quotes with the flag only four characters are escapable.
        {"\"a\\\"b\\$c\\\\d\\`e\\nf\"", true, {"a\"b$c\\d`e\\nf"}},
        {"\"a\\\"b\"", false, {"a\\b"}},
        // Inside apostrophes everything is literal, even a backslash.
        {"'a\\'b", true, {"a\\b"}},
        {"x\"\"", false, {"x"}},
        {"\xC3\xA9t\xC3\xA9 \"\xE2\x82\xAC x\"", true, {"\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC x"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(qm::split_command_line(c.text, c.shell_quotes), c.words)
            << "text: [" << c.text << "] flag " << c.shell_quotes;
    }
}

TEST(TextProgramOfCommandLine, QuotedFirstPartOrPathUpToTheProgramExtension) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"", ""},
        {"   ", ""},
        {"  \"C:\\Program Files\\App\\app.exe\" -x  ", "C:\\Program Files\\App\\app.exe"},
        {"\"C:\\no closing quote\\app.exe -x", "C:\\no closing quote\\app.exe -x"},
        {"\"\" rest", ""},
        {"notepad.exe C:\\notes.txt", "notepad.exe"},
        {"notepad C:\\files\\x.exe", "notepad"},
        {"C:\\Windows\\system32\\rundll32.exe shell32.dll,Control_RunDLL", "C:\\Windows\\system32\\rundll32.exe"},
        {"C:\\Program Files\\App\\app.exe -x", "C:\\Program Files\\App\\app.exe"},
        {"C:\\Program Files (x86)\\My  App\\App.EXE", "C:\\Program Files (x86)\\My  App\\App.EXE"},
        {"C:\\Program Files\\App\\run.cmd /quiet", "C:\\Program Files\\App\\run.cmd"},
        {"C:\\tools\\thing --flag C:\\other\\x.exe", "C:\\tools\\thing"},
        {"C:\\tools\\thing /S C:\\other\\x.exe", "C:\\tools\\thing"},
        {"C:\\Program Files\\App\\app", "C:\\Program"},
        {"/usr/bin/env python3 script.py", "/usr/bin/env"},
        {"\tcmd /c start x.exe", "cmd"},
    };
    for (const auto& [text, program] : cases) {
        EXPECT_EQ(qm::program_of_command_line(text), program) << "text: [" << text << "]";
    }
}

}  // namespace

namespace qm {
namespace {

TEST(MakeSlug, KeepsLettersDigitsAndInnerSeparatorsOnly) {
    EXPECT_EQ(make_slug("Notes"), "Notes");
    EXPECT_EQ(make_slug("  My   App (beta) "), "My App (beta)");
    EXPECT_EQ(make_slug("a<b>c:d\"e/f\\g|h?i*j"), "abcdefghij");  // what Windows forbids in names
    EXPECT_EQ(make_slug("!!! ... ---"), "");                      // only punctuation
    EXPECT_EQ(make_slug("Äpfel & Birnen"), "Äpfel & Birnen");
    EXPECT_EQ(make_slug("tab\there\nnew"), "tabherenew");
    EXPECT_EQ(make_slug("-x-"), "x");
    EXPECT_EQ(make_slug(std::string(70, 'a')), std::string(60, 'a'));
    // Cut at 60 characters, not bytes, and never in the middle of a character.
    std::string long_name;
    for (int i = 0; i < 70; ++i) long_name += "ä";
    EXPECT_EQ(count_characters(make_slug(long_name)), 60u);
    EXPECT_TRUE(is_valid_utf8(make_slug(long_name)));
    EXPECT_EQ(make_slug(std::string("bad\xFF"
                                    "byte")),
              "bad\xEF\xBF\xBD"
              "byte");
}

}  // namespace
}  // namespace qm
