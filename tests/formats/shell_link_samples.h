// The real shell link files of the conformance data in tests/data, for the
// conformance and adversarial tests. Under Wine the Unix path of the folder
// is reached through the Z: drive.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace qm::test {

inline std::filesystem::path shell_link_samples_folder() {
    const std::filesystem::path folder = QM_TEST_DATA_DIR "/conformance/shell-links";
#ifdef _WIN32
    std::error_code error;
    if (!std::filesystem::exists(folder, error)) return "Z:" / folder;
#endif
    return folder;
}

// The whole file, or "" when it cannot be read.
inline std::string read_shell_link_sample(const std::string& name) {
    std::ifstream in(shell_link_samples_folder() / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace qm::test
