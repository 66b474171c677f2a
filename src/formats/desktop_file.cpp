#include "formats/desktop_file.h"

#include "util/text.h"

namespace qm::formats {

DesktopFile::DesktopFile(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        std::string ending = end < text.size() ? "\n" : "";
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            ending.insert(0, "\r");
        }
        if (lines_.empty() && !ending.empty()) ending_ = ending == "\r" ? "\n" : ending;
        lines_.push_back(std::move(line));
        endings_.push_back(std::move(ending));
        start = end + 1;
    }
    group_end_ = lines_.size();
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string header = trim(lines_[i]);
        if (!header.starts_with('[')) continue;
        if (has_group_) {
            group_end_ = i;
            break;
        }
        if (header == "[Desktop Entry]") {
            has_group_ = true;
            group_begin_ = i + 1;
        }
    }
    if (!has_group_) group_end_ = 0;
}

std::size_t DesktopFile::find(std::string_view key) const {
    if (!has_group_) return lines_.size();
    // The last occurrence wins, as launchers read the file top to bottom.
    std::size_t found = lines_.size();
    for (std::size_t i = group_begin_; i < group_end_; ++i) {
        const std::string& line = lines_[i];
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || line.starts_with('#')) continue;
        if (trim(std::string_view(line).substr(0, equals)) == key) found = i;
    }
    return found;
}

std::string DesktopFile::get(std::string_view key) const {
    const std::size_t at = find(key);
    if (at == lines_.size()) return {};
    return trim(std::string_view(lines_[at]).substr(lines_[at].find('=') + 1));
}

bool DesktopFile::has(std::string_view key) const { return find(key) != lines_.size(); }

bool DesktopFile::flag(std::string_view key) const { return to_lower_ascii(get(key)) == "true"; }

// A line that a new line follows must end in a line feed: a last line
// without an ending, or with a carriage return alone (which readers do not
// take for a line break), would run on into the new one.
void DesktopFile::end_line(std::size_t index) {
    std::string& ending = endings_[index];
    if (ending.empty()) ending = ending_;
    else if (!ending.ends_with('\n')) ending += '\n';
}

void DesktopFile::set(std::string_view key, std::string_view value) {
    std::string line = std::string(key) + "=" + std::string(value);
    const std::size_t at = find(key);
    if (at != lines_.size()) {
        lines_[at] = std::move(line);
        return;
    }
    if (!has_group_) {
        // At the end: a header at the top would take the lines above the
        // file's first group into the new group as keys of its own.
        if (!lines_.empty()) end_line(lines_.size() - 1);
        lines_.push_back("[Desktop Entry]");
        endings_.push_back(ending_);
        has_group_ = true;
        group_begin_ = lines_.size();
        group_end_ = lines_.size();
    }
    // After the group's last non-blank line, so a blank line before the next
    // group stays where it was.
    std::size_t insert_at = group_end_;
    while (insert_at > group_begin_ && trim(lines_[insert_at - 1]).empty()) --insert_at;
    if (insert_at > 0) end_line(insert_at - 1);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at), std::move(line));
    endings_.insert(endings_.begin() + static_cast<std::ptrdiff_t>(insert_at), ending_);
    ++group_end_;
}

std::string DesktopFile::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines_.size(); ++i) out += lines_[i] + endings_[i];
    return out;
}

std::string desktop_exec_command(std::string_view exec) {
    std::string command;
    for (const std::string& word : split_command_line(exec, true)) {
        if (word.size() == 2 && word[0] == '%') continue;
        if (!command.empty()) command.push_back(' ');
        if (word.find_first_of(" \t\"'\\") == std::string::npos) {
            command += word;
            continue;
        }
        command.push_back('"');
        for (const char c : word) {
            if (c == '"' || c == '\\' || c == '`' || c == '$') command.push_back('\\');
            command.push_back(c);
        }
        command.push_back('"');
    }
    return command;
}

}  // namespace qm::formats
