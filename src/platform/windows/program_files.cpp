#include "platform/windows/program_files.h"

namespace qm::win {

std::string program_file_of_command(std::string_view command) { return std::string(command); }
VersionStrings read_version_strings(const std::string&) { return {}; }
std::string lower_windows_folder() { return "c:\\windows"; }
bool is_operating_system(std::string_view, std::string_view) { return false; }

ProgramFacts::ProgramFacts() : windows_folder_(lower_windows_folder()) {}
const VersionStrings& ProgramFacts::version(const std::string& path) { return versions_[path]; }
bool ProgramFacts::is_operating_system(std::string_view path) const {
    return win::is_operating_system(path, windows_folder_);
}
void ProgramFacts::fill(StartupItem& item) {
    item.exe = program_file_of_command(item.command);
    item.origin = is_operating_system(item.exe) ? "Operating system" : "Installed program";
}

}  // namespace qm::win
