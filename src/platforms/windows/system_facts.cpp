#include "platforms/windows/system_facts.h"

#include <shlobj.h>

#include <algorithm>

#include "os/environment.h"
#include "platforms/windows/registry.h"
#include "util/text.h"

namespace qm::windows {
namespace {

// The first build that Windows 11 reports, while its ProductName still says
// "Windows 10".
constexpr unsigned long first_windows_11_build = 22000;

bool is_number(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Compares a string of digits with a number without converting it, so that
// a build number too long for any integer type still compares correctly.
bool number_at_least(std::string_view digits, unsigned long bound) {
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    const std::string bound_text = std::to_string(bound);
    if (digits.size() != bound_text.size()) return digits.size() > bound_text.size();
    return digits >= bound_text;
}

}  // namespace

std::string os_version_text(std::string_view product_name, std::string_view display_version,
                            std::string_view current_build) {
    std::string product(product_name);
    // Windows 11 kept "Windows 10" in ProductName; only the build tells them apart.
    if (is_number(current_build) && number_at_least(current_build, first_windows_11_build)) {
        static constexpr std::string_view old_name = "Windows 10";
        static constexpr std::string_view new_name = "Windows 11";
        for (std::size_t at = product.find(old_name); at != std::string::npos;
             at = product.find(old_name, at + new_name.size())) {
            product.replace(at, old_name.size(), new_name);
        }
    }
    return trim(product + " " + std::string(display_version) + " (build " + std::string(current_build) + ")");
}

std::string read_os_version(HKEY root, std::string_view key_path) {
    RegistryResult<RegistryKey> key = open_key(root, key_path, KEY_QUERY_VALUE);
    if (!key) return {};
    // A value that is missing or not text counts as empty.
    auto text = [&](std::string_view name) { return try_read_text(key->get(), name).value_or(""); };
    return os_version_text(text("ProductName"), text("DisplayVersion"), text("CurrentBuild"));
}

model::SystemFacts read_system_facts() {
    model::SystemFacts facts;
    facts.os = "windows";
    facts.os_version = read_os_version(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    facts.host = os::get_env("COMPUTERNAME").value_or("");
    facts.user = os::get_env("USERNAME").value_or("");
    facts.home = os::get_env("USERPROFILE").value_or("");
    facts.admin = ::IsUserAnAdmin() != FALSE;
    facts.demo = false;
    return facts;
}

}  // namespace qm::windows
