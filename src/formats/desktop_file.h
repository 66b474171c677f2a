// Desktop entry files (*.desktop): the keys of the [Desktop Entry] group
// read, and single keys set, with every other line kept as it was (its line
// ending too: CRLF stays CRLF, a last line without one stays so), so that a
// file written back differs only in the keys changed. Pure text work.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm::formats {

class DesktopFile {
public:
    explicit DesktopFile(std::string_view text);

    // The value of a key of the [Desktop Entry] group (exact key, so "Name"
    // is not "Name[de]"); empty when absent.
    [[nodiscard]] std::string get(std::string_view key) const;
    [[nodiscard]] bool has(std::string_view key) const;
    // "true" in any letter case.
    [[nodiscard]] bool flag(std::string_view key) const;
    // Sets a key of the [Desktop Entry] group in place, or adds it at the end
    // of the group (a group is added at the end of a file that has none).
    void set(std::string_view key, std::string_view value);
    [[nodiscard]] std::string text() const;
    // The file has a [Desktop Entry] group; launchers ignore a file without.
    [[nodiscard]] bool has_group() const { return has_group_; }

private:
    // Index of the key's line in the group, or lines_.size().
    [[nodiscard]] std::size_t find(std::string_view key) const;
    void end_line(std::size_t index);
    std::vector<std::string> lines_;
    // per line: "\n", "\r\n", or for the last line "" or a lone "\r"
    std::vector<std::string> endings_;
    std::string ending_ = "\n";         // for lines added: the file's first line's
    std::size_t group_begin_ = 0;  // first line after "[Desktop Entry]"
    std::size_t group_end_ = 0;    // the next group header or the end
    bool has_group_ = false;
};

// The command of an Exec line, with the field codes (%f, %U, ...) that the
// launcher replaces left out; a word with a space or a quote is shown in
// double quotes, its quotes and backslashes escaped as the Exec rules want.
[[nodiscard]] std::string desktop_exec_command(std::string_view exec);

}  // namespace qm::formats
