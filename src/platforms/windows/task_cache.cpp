#include "platforms/windows/task_cache.h"

#include <optional>

#include "formats/windows_values.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/work_pool.h"

namespace qm::windows {

namespace {

constexpr std::string_view task_cache_path = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";

std::int64_t last_run(HKEY tree, HKEY tasks, const std::string& task_path) {
    const std::string relative = task_path.starts_with('\\') ? task_path.substr(1) : task_path;
    if (relative.empty()) return 0;
    const RegistryResult<RegistryKey> entry = open_key(tree, relative, KEY_QUERY_VALUE);
    if (!entry) return 0;
    const std::optional<std::string> id = try_read_text(entry->get(), "Id");
    // An identifier is one key name; anything else would reach another key.
    if (!id || id->empty() || id->find('\\') != std::string::npos) return 0;
    const RegistryResult<RegistryKey> task = open_key(tasks, *id, KEY_QUERY_VALUE);
    if (!task) return 0;
    const RegistryResult<std::optional<RawValue>> info = try_read_raw(task->get(), "DynamicInfo");
    if (!info || !*info || (*info)->type != REG_BINARY) return 0;
    return formats::task_last_run((*info)->bytes);
}

}  // namespace

std::vector<std::int64_t> task_last_runs(const std::vector<std::string>& task_paths) {
    std::vector<std::int64_t> times(task_paths.size(), 0);
    if (task_paths.empty()) return times;
    const RegistryResult<RegistryKey> tree =
        open_key(HKEY_LOCAL_MACHINE, std::string(task_cache_path) + "\\Tree", KEY_READ | KEY_WOW64_64KEY);
    if (!tree) return times;
    const RegistryResult<RegistryKey> tasks =
        open_key(HKEY_LOCAL_MACHINE, std::string(task_cache_path) + "\\Tasks", KEY_READ | KEY_WOW64_64KEY);
    if (!tasks) return times;
    run_on_workers(task_paths.size(),
                   [&](std::size_t i) { times[i] = last_run(tree->get(), tasks->get(), task_paths[i]); });
    return times;
}

}  // namespace qm::windows
