// Waiting for the places the Windows scan reads to change: the Run keys of
// the knowledge's locations (those of HKLM in both registry views), the
// start-up approval keys of both hives, the Services key with every service's
// key below it, through RegNotifyChangeKeyValue with an event; and the Startup
// folders and the task folders (with their sub-folders), through
// FindFirstChangeNotificationW. A key or folder that is not there is waited
// for at its nearest existing parent, so that its making is seen; one that
// cannot be watched (access refused) is a note. Every handle is owned by its
// RAII type. Windows ties a registry notification to the thread that asked
// for it, so one thread makes, waits on and destroys a watch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"
#include "os/wake_signal.h"
#include "platforms/windows/registry.h"
#include "util/result.h"

namespace qm::windows {

struct WatchedKey {
    std::string hive;  // HKCU or HKLM
    std::string path;
    RegistryView view = RegistryView::own;
    bool subtree = false;  // its subkeys too
};

struct WatchedFolder {
    std::string path;
    bool subtree = false;  // its sub-folders too
};

struct WatchedPlaces {
    std::vector<WatchedKey> keys;
    std::vector<WatchedFolder> folders;
};

[[nodiscard]] WatchedPlaces watched_places(const knowledge::KnowledgeLocations& locations);

// Fails only when not even one event can be made.
[[nodiscard]] Result<std::unique_ptr<model::ChangeWatch>> watch_places(const WatchedPlaces& places,
                                                                       std::shared_ptr<os::WakeSignal> wake);

}  // namespace qm::windows
