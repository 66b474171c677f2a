// When scheduled tasks last ran, from the record the Task Scheduler keeps in
// the registry, under the key TaskCache of
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Schedule:
// Tree\{task path} names the task's identifier in its value
// "Id", and Tasks\{identifier} holds the times in its value "DynamicInfo"
// (formats::task_last_run). A computer without that record (Wine keeps
// none) has no times; nothing here fails. Reads on a few threads
// (work_pool.h); thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm::windows {

// For each task path ("\Folder\Name"), when it last ran (seconds since 1970,
// UTC), or 0 when that is not recorded.
[[nodiscard]] std::vector<std::int64_t> task_last_runs(const std::vector<std::string>& task_paths);

}  // namespace qm::windows
