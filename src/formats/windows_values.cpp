#include "formats/windows_values.h"

#include <algorithm>

#include "util/decode.h"
#include "util/text.h"

namespace qm::formats {
namespace {

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t file_time_of_unix_epoch = 116444736000000000ULL;

// An unquoted command line is probed one more leading word at a time; a
// program path with more words than this is not worth the file-system probes
// a hostile or broken entry with thousands of words would cost.
constexpr std::size_t max_probed_words = 32;

bool has_extension(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return last.find('.') != std::string_view::npos;
}

// The file Windows would start for one run of leading words: the run with
// ".exe" added when its last part has no extension, else the run itself
// (kept for files without an extension); empty when neither exists.
std::string existing_program(const std::string& run, const FileProbe& is_file) {
    if (!has_extension(run)) {
        std::string with_exe = run + ".exe";
        if (is_file(with_exe)) return with_exe;
    }
    return is_file(run) ? run : std::string();
}

}  // namespace

std::string decode_registry_text(std::string_view bytes) {
    // Up to the first NUL character (two zero bytes at an even offset); the
    // decoder drops an odd last byte and turns bad sequences into U+FFFD.
    std::size_t end = 0;
    while (end + 1 < bytes.size() && !(bytes[end] == '\0' && bytes[end + 1] == '\0')) end += 2;
    std::string text = "\xFF\xFE";
    text.append(bytes.substr(0, std::min(end, bytes.size())));
    return decode_text(text);
}

std::string expand_references(std::string_view text, const VariableLookup& lookup) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        if (open == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, open - at));
        const std::size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos || close == open + 1) {
            out.push_back('%');
            at = open + 1;
            continue;
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (std::optional<std::string> value = lookup(name)) {
            out.append(*value);
        } else {
            out.append(text.substr(open, close - open + 1));
        }
        at = close + 1;
    }
    return out;
}

ApprovalFlag approval_flag_of_bytes(std::string_view bytes) {
    if (bytes.empty()) return ApprovalFlag::none;
    return (static_cast<unsigned char>(bytes[0]) & 1) != 0 ? ApprovalFlag::off : ApprovalFlag::on;
}

std::string approval_bytes(bool on, std::int64_t unix_seconds) {
    std::string bytes(12, '\0');
    if (on) {
        bytes[0] = '\x02';
        return bytes;
    }
    bytes[0] = '\x03';
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(std::max<std::int64_t>(unix_seconds, 0)) * 10000000ULL + file_time_of_unix_epoch;
    for (int i = 0; i < 8; ++i) bytes[4 + i] = static_cast<char>((ticks >> (8 * i)) & 0xFF);
    return bytes;
}

std::int64_t unix_seconds_of_file_time(std::uint64_t file_time) {
    if (file_time <= file_time_of_unix_epoch) return 0;
    return static_cast<std::int64_t>((file_time - file_time_of_unix_epoch) / 10000000ULL);
}

std::int64_t task_last_run(std::string_view dynamic_info) {
    // The layouts known: the short one of Windows 7 and the one of later
    // versions with a time added at the end. Bytes of another size may hold
    // anything at that offset.
    if (dynamic_info.size() != 28 && dynamic_info.size() != 36) return 0;
    constexpr std::size_t last_run_offset = 12;
    std::uint64_t ticks = 0;
    for (int i = 7; i >= 0; --i) {
        ticks = ticks << 8 | static_cast<unsigned char>(dynamic_info[last_run_offset + static_cast<std::size_t>(i)]);
    }
    return unix_seconds_of_file_time(ticks);
}

CommandProgram command_program(std::string_view command, const FileProbe& is_file) {
    const std::string text = trim(command);
    if (text.empty()) return {};
    if (text.front() == '"') {
        const std::size_t close = text.find('"', 1);
        return {text.substr(1, close == std::string::npos ? std::string::npos : close - 1), {}};
    }
    // Each run ending before a space is the leading words joined by the
    // spaces that stood between them; the whole text is the last run.
    CommandProgram found;
    std::size_t found_end = std::string::npos;
    bool longer_exists = false;
    std::size_t end = text.find(' ');
    for (std::size_t words = 1; words <= max_probed_words; ++words) {
        const std::string run = text.substr(0, end);
        if (found.program.empty()) {
            found.program = existing_program(run, is_file);
            found_end = end;
        } else if (!existing_program(run, is_file).empty()) {
            longer_exists = true;
            break;
        }
        if (end == std::string::npos) break;
        end = text.find(' ', end + 1);
    }
    const std::size_t first_space = text.find(' ');
    if (found.program.empty()) {
        found.program = text.substr(0, first_space);
        return found;
    }
    if (first_space == std::string::npos) return found;
    if (found_end == std::string::npos || found_end > first_space) {
        // The program's path holds a space: Windows tries the shorter runs first.
        const std::string first_run = text.substr(0, first_space);
        const std::string first_tried = has_extension(first_run) ? first_run : first_run + ".exe";
        found.unquoted_warning = "The path is not in quotes, so Windows looks for " + first_tried +
                                 " first; a program placed there would run instead.";
        return found;
    }
    // A shorter file came first. It shadows the one meant when a longer run
    // names a file too, or when the next word carries on a path.
    const std::size_t next_end = text.find(' ', found_end + 1);
    const std::string next =
        text.substr(found_end + 1, next_end == std::string::npos ? next_end : next_end - found_end - 1);
    const bool carries_on_a_path = next.find('\\') != std::string::npos && next.size() > 1 && next[1] != ':' &&
                                   next.front() != '\\' && next.front() != '"' && next.front() != '%';
    if (longer_exists || carries_on_a_path) {
        found.unquoted_warning = "The path is not in quotes: " + found.program + " would run first.";
    }
    return found;
}

}  // namespace qm::formats
