// The process environment and well-known folders, as UTF-8 text.
// Reading is thread-safe; nothing here changes the environment.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::os {

// The variable's value; nothing when it is not set. A variable set to the
// empty text gives an empty string, which is different from "not set".
[[nodiscard]] std::optional<std::string> get_env(std::string_view name);

// The system's folder for temporary files, without a trailing separator.
[[nodiscard]] std::string temp_folder();

}  // namespace qm::os
