// Waiting for the places the Linux scan reads to change, through inotify:
// every unit folder with its *.wants, *.requires and drop-in (*.d) folders
// (new ones are watched as they appear), the autostart folders, /etc/crontab,
// /etc/cron.d and this account's crontab in the spool (every account's with
// root rights). A folder that is not there is waited for at its nearest
// existing parent, so that its making is seen; one that cannot be watched
// (no right to read it) is a note. Events in a folder that only one file of
// matters for (/etc for crontab) wake nobody unless they are about that file.
// Not thread-safe: one thread makes, waits on and destroys a watch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/platform.h"
#include "os/wake_signal.h"
#include "platforms/linux/linux_system.h"
#include "util/result.h"

namespace qm::linux {

// One place to watch, as a path on the computer.
struct WatchedPlace {
    std::string folder;
    std::string only_file;    // empty: anything in the folder matters
    bool subfolders = false;  // its *.wants, *.requires and *.d folders too
};

// The places the scan reads, for the autostart folders `autostart_dirs`
// (as the knowledge lists them, "~" for the home folder).
[[nodiscard]] std::vector<WatchedPlace> watched_places(const LinuxContext& context,
                                                       const std::vector<std::string>& autostart_dirs);

// Fails only when inotify itself cannot be had (the system's limit of
// instances is reached).
[[nodiscard]] Result<std::unique_ptr<model::ChangeWatch>> watch_places(const LinuxRoot& root,
                                                                       std::vector<WatchedPlace> places,
                                                                       std::shared_ptr<os::WakeSignal> wake);

}  // namespace qm::linux
