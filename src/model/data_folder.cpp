#include "model/data_folder.h"

#include "os/environment.h"

namespace qm::model {

namespace {

// Joins with the separator of the system the folder belongs to, which need
// not be the system this code runs on.
std::string join(std::string_view base, std::string_view name, char separator) {
    std::string out(base);
    if (!out.empty() && out.back() != '\\' && out.back() != '/') out.push_back(separator);
    out.append(name);
    return out;
}

std::string non_empty(const EnvironmentLookup& environment, std::string_view name) {
    std::optional<std::string> value = environment(name);
    return value ? *value : std::string();
}

std::string machine_folder(const SystemFacts& facts, const EnvironmentLookup& environment) {
    if (facts.os == "windows") {
        std::string program_data = non_empty(environment, "ProgramData");
        if (program_data.empty()) program_data = "C:\\ProgramData";
        return join(program_data, "Quillmoor", '\\');
    }
    if (facts.os == "macos") return "/Library/Application Support/Quillmoor";
    return "/var/lib/quillmoor";
}

std::string user_folder(const SystemFacts& facts, const EnvironmentLookup& environment, std::string_view temp_folder) {
    if (facts.os == "windows") {
        std::string local = non_empty(environment, "LOCALAPPDATA");
        if (!local.empty()) return join(local, "Quillmoor", '\\');
        if (!facts.home.empty()) return join(join(facts.home, "AppData\\Local", '\\'), "Quillmoor", '\\');
        return join(temp_folder, "Quillmoor", '\\');
    }
    if (facts.os == "macos") return join(facts.home, "Library/Application Support/Quillmoor", '/');
    std::string xdg = non_empty(environment, "XDG_DATA_HOME");
    if (!xdg.empty()) return join(xdg, "quillmoor", '/');
    return join(facts.home, ".local/share/quillmoor", '/');
}

}  // namespace

DataFolder resolve_data_folder(const SystemFacts& facts, const EnvironmentLookup& environment,
                               std::string_view temp_folder) {
    const std::string machine = machine_folder(facts, environment);
    if (facts.admin) return DataFolder{machine, {machine}};
    std::string user = user_folder(facts, environment, temp_folder);
    return DataFolder{user, {user, machine}};
}

DataFolder resolve_data_folder(const SystemFacts& facts) {
    return resolve_data_folder(
        facts, [](std::string_view name) { return os::get_env(name); }, os::temp_folder());
}

DataFolder data_folder_override(std::string folder) {
    std::vector<std::string> read{folder};
    return DataFolder{std::move(folder), std::move(read)};
}

}  // namespace qm::model
