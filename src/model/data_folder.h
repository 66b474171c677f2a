// Where the program keeps what it writes (journal, backups, knowledge files):
// one folder to write to and the folders to read from, chosen once from the
// system facts and the environment. The demonstration overrides both with
// its own temporary folder. Plain values; resolving reads the environment only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/platform.h"

namespace qm::model {

struct DataFolder {
    std::string write_folder;
    std::vector<std::string> read_folders;  // the write folder first
};

// The data folder the demonstration shows to the user; where its files really
// go is a fresh temporary folder. It lives here so that the engine and the
// window server can show it without depending on the demonstration.
inline constexpr std::string_view demo_shown_data_folder = "C:\\Users\\tamsel\\AppData\\Local\\Quillmoor";

using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view)>;

// Folder rules per system ("windows", "macos", anything else) and rights: with
// administrator rights the machine folder only; otherwise the user folder,
// then the machine folder for reading. `temp_folder` is the last resort on
// Windows when neither LOCALAPPDATA nor the home folder is known.
[[nodiscard]] DataFolder resolve_data_folder(const SystemFacts& facts, const EnvironmentLookup& environment,
                                             std::string_view temp_folder);

// The same with the process environment.
[[nodiscard]] DataFolder resolve_data_folder(const SystemFacts& facts);

// One folder that is both written and read (the demonstration's).
[[nodiscard]] DataFolder data_folder_override(std::string folder);

}  // namespace qm::model
