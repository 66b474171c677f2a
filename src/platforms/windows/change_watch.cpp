#include "platforms/windows/change_watch.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "os/files.h"
#include "os/windows/handle.h"
#include "os/windows/system_error.h"
#include "os/windows/wide.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/services.h"
#include "platforms/windows/startup_folders.h"
#include "platforms/windows/tasks.h"

namespace qm::windows {

namespace {

using std::chrono::milliseconds;

constexpr DWORD key_changes = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
constexpr DWORD folder_changes = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                 FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
// WaitForMultipleObjects takes 64 handles, one of them the wake signal's.
constexpr std::size_t most_places = MAXIMUM_WAIT_OBJECTS - 1;

std::string parent_of(const std::string& path) {
    const std::size_t at = path.find_last_of('\\');
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

std::string key_text(const WatchedKey& key) {
    std::string text = key.hive + "\\" + key.path;
    if (key.view == RegistryView::bits32) text += " (32-bit)";
    return text;
}

// One watched key or folder and how it is watched now: itself, or, while it
// is missing, its nearest existing parent for the making of a part below.
struct Place {
    bool is_key = false;
    WatchedKey key;
    WatchedFolder folder;
    std::string shown;
    bool awaiting = false;
    std::string note;  // why it is not watched, or empty
    os::windows::Handle event;  // keys: signalled by the registry
    RegistryKey opened;         // keys: the key notified about
    os::windows::ChangeNotification notification;  // folders

    [[nodiscard]] HANDLE waitable() const {
        if (is_key) return opened.valid() ? event.get() : nullptr;
        return notification.valid() ? notification.get() : nullptr;
    }
};

// The note of a place that cannot be watched.
std::string not_watched(const Place& place, unsigned long code) {
    if (code == ERROR_ACCESS_DENIED) return place.shown + " cannot be watched without administrator rights.";
    return os::windows::system_error("watching " + place.shown, code);
}

void arm_key(Place& place) {
    place.opened.reset();
    place.awaiting = false;
    place.note.clear();
    if (!place.event.valid() || !::ResetEvent(place.event.get())) {
        place.note = "Could not watch " + place.shown + ": no event to wait on.";
        return;
    }
    const HKEY root = registry_root(place.key.hive);
    std::string path = place.key.path;
    while (true) {
        RegistryResult<std::optional<RegistryKey>> opened =
            try_open_key(root, path, KEY_NOTIFY | view_flag(place.key.view));
        if (!opened) {
            place.note = not_watched(place, static_cast<unsigned long>(opened.error().code));
            return;
        }
        if (*opened) {
            place.opened = std::move(**opened);
            break;
        }
        // A hive itself is always there, so this ends.
        path = parent_of(path);
        place.awaiting = true;
    }
    const BOOL subtree = place.awaiting ? FALSE : (place.key.subtree ? TRUE : FALSE);
    const LSTATUS status = ::RegNotifyChangeKeyValue(place.opened.get(), subtree,
                                                     place.awaiting ? REG_NOTIFY_CHANGE_NAME : key_changes,
                                                     place.event.get(), TRUE);
    if (status != ERROR_SUCCESS) {
        place.opened.reset();
        place.note = not_watched(place, static_cast<unsigned long>(status));
    }
}

void arm_folder(Place& place) {
    place.notification.reset();
    place.awaiting = false;
    place.note.clear();
    std::string path = place.folder.path;
    while (true) {
        const os::PathKind kind = os::path_kind(path);
        if (kind == os::PathKind::folder) break;
        if (kind != os::PathKind::missing) {
            place.note = "Could not watch " + place.shown + ": " + path + " is not a folder.";
            return;
        }
        path = parent_of(path);
        place.awaiting = true;
        if (path.empty()) return;  // not even its drive is there
    }
    const BOOL subtree = place.awaiting ? FALSE : (place.folder.subtree ? TRUE : FALSE);
    place.notification.reset(::FindFirstChangeNotificationW(
        os::windows::to_wide(path).c_str(), subtree, place.awaiting ? FILE_NOTIFY_CHANGE_DIR_NAME : folder_changes));
    if (!place.notification.valid())
        place.note = not_watched(place, ::GetLastError());
}

void arm(Place& place) { place.is_key ? arm_key(place) : arm_folder(place); }

class RegistryAndFolderWatch final : public model::ChangeWatch {
public:
    RegistryAndFolderWatch(std::vector<Place> places, std::vector<std::string> notes,
                           std::shared_ptr<os::WakeSignal> wake)
        : places_(std::move(places)), dropped_(std::move(notes)), wake_(std::move(wake)) {
        for (Place& place : places_) arm(place);
    }

    [[nodiscard]] std::size_t places() const override { return places_.size(); }

    [[nodiscard]] std::vector<std::string> notes() const override {
        std::vector<std::string> notes = dropped_;
        for (const Place& place : places_) {
            if (!place.note.empty()) notes.push_back(place.note);
        }
        return notes;
    }

    [[nodiscard]] model::WatchWake wait(std::optional<milliseconds> timeout) override {
        const auto deadline = std::chrono::steady_clock::now() + timeout.value_or(milliseconds(0));
        while (true) {
            DWORD wait_ms = INFINITE;
            if (timeout) {
                const auto left =
                    std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
                wait_ms = static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
            }
            std::vector<HANDLE> handles{static_cast<HANDLE>(wake_->native())};
            std::vector<Place*> waited;
            for (Place& place : places_) {
                if (HANDLE handle = place.waitable(); handle != nullptr) {
                    handles.push_back(handle);
                    waited.push_back(&place);
                }
            }
            const DWORD ready =
                ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, wait_ms);
            if (wake_->raised()) return model::WatchWake::woken;
            if (ready == WAIT_TIMEOUT) return model::WatchWake::timed_out;
            if (ready == WAIT_FAILED) {
                // Nothing but the wake signal is left to wait for.
                return wake_->wait(timeout ? std::optional(milliseconds(wait_ms)) : std::nullopt)
                           ? model::WatchWake::woken
                           : model::WatchWake::timed_out;
            }
            bool matters = false;
            for (std::size_t i = 0; i < waited.size(); ++i) {
                if (::WaitForSingleObject(handles[i + 1], 0) != WAIT_OBJECT_0) continue;
                Place& place = *waited[i];
                const bool was_awaiting = place.awaiting;
                // Armed afresh, not only re-armed: the key or folder may have
                // been deleted or made meanwhile.
                arm(place);
                if (!was_awaiting || !place.awaiting) matters = true;
            }
            if (matters) return model::WatchWake::changed;
        }
    }

private:
    std::vector<Place> places_;
    const std::vector<std::string> dropped_;  // places beyond what one wait can hold
    const std::shared_ptr<os::WakeSignal> wake_;
};

}  // namespace

WatchedPlaces watched_places(const knowledge::KnowledgeLocations& locations) {
    WatchedPlaces places;
    std::set<std::string> seen;
    auto add_key = [&](std::string hive, std::string path, RegistryView view, bool subtree) {
        const std::string name = hive + "\\" + path + "\\" + std::to_string(static_cast<int>(view));
        if (!seen.insert(name).second) return;
        places.keys.push_back(WatchedKey{std::move(hive), std::move(path), view, subtree});
    };
    std::set<std::string> approved{std::string(startup_folder_approval)};
    for (const knowledge::RunKeyLocation& location : locations.run_keys) {
        // The 32-bit programs of the whole computer have Run keys of their
        // own; this user's keys are one and the same in both views.
        if (location.hive == "HKLM") {
            add_key("HKLM", location.path, RegistryView::bits64, false);
            add_key("HKLM", location.path, RegistryView::bits32, false);
        } else {
            add_key("HKCU", location.path, RegistryView::own, false);
        }
        if (!location.approved.empty()) approved.insert(location.approved);
    }
    for (const char* hive : {"HKCU", "HKLM"}) {
        for (const std::string& name : approved)
            add_key(hive, std::string(startup_approved_path) + "\\" + name, RegistryView::bits64, false);
    }
    add_key("HKLM", std::string(services_path), RegistryView::own, true);

    std::set<std::string> folders;
    for (const knowledge::StartupFolderLocation& location : locations.startup_folders) {
        std::optional<std::string> path = startup_folder_path(location);
        if (path && folders.insert(*path).second) places.folders.push_back(WatchedFolder{std::move(*path), false});
    }
    const std::string windows = system_root();
    for (const std::string& root : locations.task_roots) {
        std::string path = os::join_path(windows, root);
        if (folders.insert(path).second) places.folders.push_back(WatchedFolder{std::move(path), true});
    }
    return places;
}

Result<std::unique_ptr<model::ChangeWatch>> watch_places(const WatchedPlaces& places,
                                                         std::shared_ptr<os::WakeSignal> wake) {
    std::vector<Place> watched;
    std::vector<std::string> notes;
    auto room = [&](const std::string& shown) {
        if (watched.size() < most_places) return true;
        notes.push_back(shown + " is not watched: one wait holds no more places.");
        return false;
    };
    for (const WatchedKey& key : places.keys) {
        if (!room(key_text(key))) continue;
        Place place;
        place.is_key = true;
        place.key = key;
        place.shown = key_text(key);
        place.event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!place.event.valid()) return fail(os::windows::system_error("making an event to wait on", ::GetLastError()));
        watched.push_back(std::move(place));
    }
    for (const WatchedFolder& folder : places.folders) {
        if (!room(folder.path)) continue;
        Place place;
        place.folder = folder;
        place.shown = folder.path;
        watched.push_back(std::move(place));
    }
    return std::unique_ptr<model::ChangeWatch>(
        std::make_unique<RegistryAndFolderWatch>(std::move(watched), std::move(notes), std::move(wake)));
}

}  // namespace qm::windows
