#include <cstdlib>

#include "os/environment.h"

namespace qm::os {

std::optional<std::string> get_env(std::string_view name) {
    std::string key(name);
    if (key.empty() || key.find('=') != std::string::npos) return std::nullopt;
    const char* value = std::getenv(key.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string temp_folder() {
    std::string folder = get_env("TMPDIR").value_or("");
    if (folder.empty()) folder = "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace qm::os
