#include "platforms/windows/uninstall_entries.h"

#include <optional>
#include <string>
#include <string_view>

#include "formats/windows_values.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/work_pool.h"

namespace qm::windows {

namespace {

constexpr std::string_view uninstall_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct UninstallKey {
    std::string_view hive;
    REGSAM view;
};

// This user's software is one key for programs of either width, so its
// Uninstall key is read once; the machine's has a 32-bit copy of its own.
constexpr UninstallKey uninstall_keys[] = {
    {"HKLM", KEY_WOW64_64KEY},
    {"HKLM", KEY_WOW64_32KEY},
    {"HKCU", KEY_WOW64_64KEY},
};

std::optional<model::ChangeActor> installer_of(HKEY uninstall, const Subkey& subkey) {
    const RegistryResult<RegistryKey> key = open_key(uninstall, subkey.name, KEY_QUERY_VALUE);
    if (!key) return std::nullopt;
    model::ChangeActor actor;
    actor.kind = model::ActorKind::installer;
    actor.name = try_read_text(key->get(), "DisplayName").value_or(std::string());
    if (actor.name.empty()) return std::nullopt;  // updates and parts of other programs
    actor.exe = expand_references(try_read_text(key->get(), "InstallLocation").value_or(std::string()));
    while (!actor.exe.empty() && (actor.exe.back() == '"' || actor.exe.back() == ' ')) actor.exe.pop_back();
    if (actor.exe.starts_with('"')) actor.exe.erase(0, 1);
    if (!actor.exe.empty() && actor.exe.back() != '\\' && actor.exe.back() != '/') actor.exe += '\\';
    actor.publisher = try_read_text(key->get(), "Publisher").value_or(std::string());
    actor.time = formats::unix_seconds_of_file_time(subkey.written);
    return actor;
}

}  // namespace

void add_installer_actors(std::vector<model::ChangeActor>& actors) {
    for (const UninstallKey& place : uninstall_keys) {
        const RegistryResult<RegistryKey> uninstall =
            open_key(registry_root(place.hive), uninstall_path, KEY_READ | place.view);
        if (!uninstall) continue;
        const std::vector<Subkey> subkeys = enumerate_subkeys_with_times(uninstall->get());
        std::vector<std::optional<model::ChangeActor>> found(subkeys.size());
        run_on_workers(subkeys.size(), [&](std::size_t i) { found[i] = installer_of(uninstall->get(), subkeys[i]); });
        for (std::optional<model::ChangeActor>& actor : found) {
            if (actor && actor->time != 0) actors.push_back(std::move(*actor));
        }
    }
}

}  // namespace qm::windows
