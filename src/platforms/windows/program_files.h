// What every Windows source fills from a command line: the program file it
// starts, that file's publisher and description from its version information,
// and whether the program belongs to the operating system. A ProgramFacts
// object serves one call of the platform (one scan or one list) from one
// thread; it reads each program file's version information at most once.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "formats/windows_values.h"
#include "model/startup_item.h"

namespace qm::windows {

struct VersionStrings {
    std::string publisher;    // CompanyName
    std::string description;  // FileDescription, or ProductName when that is empty
};

// The program file of a command line as formats::command_program finds it,
// probing this computer's files.
[[nodiscard]] std::string program_file_of_command(std::string_view command);

using formats::CommandProgram;
[[nodiscard]] CommandProgram command_program(std::string_view command);

// The publisher and description from the file's version resource, trying the
// file's own translations first, then 040904b0, 040904e4 and 000004b0. Empty
// texts when the file has no version information.
[[nodiscard]] VersionStrings read_version_strings(const std::string& path);

// The Windows folder, lower-cased with backslashes and no trailing one:
// SystemRoot, or "c:\windows" when the variable is missing or empty.
[[nodiscard]] std::string lower_windows_folder();

// Whether a program file is part of the operating system, given the
// lower-cased Windows folder. Host programs that run other code never are.
[[nodiscard]] bool is_operating_system(std::string_view path, std::string_view lower_windows_folder);

class ProgramFacts {
public:
    ProgramFacts();

    // Read at most once per lower-cased path for the life of this object.
    [[nodiscard]] const VersionStrings& version(const std::string& path);
    [[nodiscard]] bool is_operating_system(std::string_view path) const;

    // Sets `exe` from `command` (adding the warning of an unquoted path to
    // `warnings`), `publisher` and `description` (only when
    // still empty) from the version information, and `origin` to "Operating
    // system" or "Installed program".
    void fill(model::StartupItem& item);

private:
    std::string windows_folder_;
    std::map<std::string, VersionStrings> versions_;  // by lower-cased path
};

}  // namespace qm::windows
