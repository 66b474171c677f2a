#include "platforms/linux/change_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <set>

#include "os/files.h"
#include "os/posix/descriptor.h"
#include "platforms/linux/cron_reboot.h"
#include "platforms/linux/systemd_units.h"

namespace qm::linux {

namespace {

using std::chrono::milliseconds;

// IN_MASK_ADD: one folder may be watched for two places (/etc holds the
// crontab and is the parent of a missing /etc/xdg/autostart), so each adds
// its events to those already asked for instead of replacing them.
constexpr std::uint32_t folder_events = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                        IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;
constexpr std::uint32_t parent_events = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;
constexpr std::uint32_t self_gone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;

// The folders systemd reads beside a unit folder's units: what targets pull
// in (enabling a unit links it there) and drop-ins that change a unit.
bool is_unit_subfolder(std::string_view name) {
    return name.ends_with(".wants") || name.ends_with(".requires") || name.ends_with(".d");
}

std::string parent_of(const std::string& path) {
    const std::size_t at = path.rfind('/');
    return at == std::string::npos || at == 0 ? std::string("/") : path.substr(0, at);
}

std::string last_part(const std::string& path) {
    const std::size_t at = path.rfind('/');
    return at == std::string::npos ? path : path.substr(at + 1);
}

class InotifyWatch final : public model::ChangeWatch {
public:
    InotifyWatch(os::posix::Descriptor inotify, const LinuxRoot& root, std::vector<WatchedPlace> places,
                 std::shared_ptr<os::WakeSignal> wake)
        : inotify_(std::move(inotify)), root_(root), places_(std::move(places)), wake_(std::move(wake)) {
        failures_.resize(places_.size());
        for (std::size_t i = 0; i < places_.size(); ++i) arm(i);
    }

    [[nodiscard]] std::size_t places() const override { return places_.size(); }

    [[nodiscard]] std::vector<std::string> notes() const override {
        std::vector<std::string> notes;
        for (const std::string& failure : failures_) {
            if (!failure.empty()) notes.push_back(failure);
        }
        return notes;
    }

    [[nodiscard]] model::WatchWake wait(std::optional<milliseconds> timeout) override {
        const auto deadline = std::chrono::steady_clock::now() + timeout.value_or(milliseconds(0));
        while (true) {
            int wait_ms = -1;
            if (timeout) {
                const auto left =
                    std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now()).count();
                wait_ms = static_cast<int>(std::max<milliseconds::rep>(left, 0));
            }
            pollfd waits[2] = {{wake_->native(), POLLIN, 0}, {inotify_.get(), POLLIN, 0}};
            const int ready = ::poll(waits, 2, wait_ms);
            if (ready < 0 && errno == EINTR) continue;
            if (wake_->raised()) return model::WatchWake::woken;
            if (ready <= 0) {
                if (ready == 0) return model::WatchWake::timed_out;
                // poll itself failed: nothing but the wake signal is left to wait for.
                return wake_->wait(timeout ? std::optional(milliseconds(wait_ms)) : std::nullopt)
                           ? model::WatchWake::woken
                           : model::WatchWake::timed_out;
            }
            if ((waits[1].revents & (POLLERR | POLLNVAL)) != 0) {
                return wake_->wait(timeout ? std::optional(milliseconds(wait_ms)) : std::nullopt)
                           ? model::WatchWake::woken
                           : model::WatchWake::timed_out;
            }
            if (read_events()) return model::WatchWake::changed;
        }
    }

private:
    enum class Role {
        folder,     // the place's own folder
        subfolder,  // a *.wants, *.requires or *.d folder of a unit folder
        parent,     // the nearest existing parent of a missing folder
    };
    struct Watcher {
        std::size_t place = 0;
        Role role = Role::folder;
        std::string awaited;  // parent: the name of the missing folder's part below it
    };

    // Watches the place's folder, or while it is missing its nearest parent
    // that exists. A failure other than "not there" is the place's note.
    void arm(std::size_t index) {
        const WatchedPlace& place = places_[index];
        failures_[index].clear();
        std::string path = root_.at(place.folder);
        const int wd = ::inotify_add_watch(inotify_.get(), path.c_str(), folder_events);
        if (wd >= 0) {
            by_descriptor_[wd].push_back(Watcher{index, Role::folder, {}});
            if (place.subfolders) add_subfolders(index, path);
            return;
        }
        if (errno != ENOENT && errno != ENOTDIR) return note_failure(index, errno);
        std::string top = root_.folder;
        while (top.size() > 1 && top.back() == '/') top.pop_back();
        while (path != top && path != "/" && !path.empty()) {
            const std::string awaited = last_part(path);
            path = parent_of(path);
            const int parent = ::inotify_add_watch(inotify_.get(), path.c_str(), parent_events);
            if (parent >= 0) {
                by_descriptor_[parent].push_back(Watcher{index, Role::parent, awaited});
                return;
            }
            if (errno != ENOENT && errno != ENOTDIR) return note_failure(index, errno);
        }
    }

    void add_subfolders(std::size_t index, const std::string& path) {
        Result<std::vector<os::FolderEntry>> listed = os::list_folder(path);
        if (!listed) return;
        for (const os::FolderEntry& entry : *listed) {
            if (entry.is_folder && is_unit_subfolder(entry.name)) add_subfolder(index, os::join_path(path, entry.name));
        }
    }

    void add_subfolder(std::size_t index, const std::string& path) {
        const int wd = ::inotify_add_watch(inotify_.get(), path.c_str(), folder_events);
        if (wd >= 0) by_descriptor_[wd].push_back(Watcher{index, Role::subfolder, {}});
    }

    void note_failure(std::size_t index, int code) {
        const std::string& shown = places_[index].folder;
        if (code == EACCES) {
            failures_[index] = shown + " cannot be watched without the right to read it.";
        } else if (code == ENOSPC) {
            failures_[index] = shown + " cannot be watched: the system's limit of watched folders is reached.";
        } else {
            failures_[index] = "Could not watch " + shown + ": " + std::strerror(code) + ".";
        }
    }

    // Stops every watch of the place, keeping those that another place shares.
    void disarm(std::size_t index) {
        for (auto it = by_descriptor_.begin(); it != by_descriptor_.end();) {
            std::erase_if(it->second, [index](const Watcher& w) { return w.place == index; });
            if (it->second.empty()) {
                (void)::inotify_rm_watch(inotify_.get(), it->first);
                it = by_descriptor_.erase(it);
            } else {
                ++it;
            }
        }
    }

    void arm_again(std::size_t index) {
        disarm(index);
        arm(index);
    }

    // Reads every event waiting; whether any of them is a change that matters.
    bool read_events() {
        alignas(inotify_event) char buffer[16384];
        bool matters = false;
        while (true) {
            const ssize_t got = ::read(inotify_.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return matters;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                matters = take(*event) || matters;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    bool take(const inotify_event& event) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) {
            // Events were lost: every place is watched afresh and counts as changed.
            for (std::size_t i = 0; i < places_.size(); ++i) arm_again(i);
            return true;
        }
        const auto found = by_descriptor_.find(event.wd);
        if (found == by_descriptor_.end()) return false;  // a watch stopped meanwhile
        const std::string name = event.len > 0 ? std::string(event.name) : std::string();
        const bool gone = (event.mask & self_gone) != 0;
        const std::vector<Watcher> watchers = found->second;
        std::set<std::size_t> again;
        bool matters = false;
        for (const Watcher& watcher : watchers) {
            const WatchedPlace& place = places_[watcher.place];
            switch (watcher.role) {
                case Role::folder:
                    if (gone) {
                        again.insert(watcher.place);
                        matters = true;
                    } else if (place.only_file.empty() || name == place.only_file) {
                        matters = true;
                        if (place.subfolders && (event.mask & IN_ISDIR) != 0 &&
                            (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0 && is_unit_subfolder(name)) {
                            add_subfolder(watcher.place, os::join_path(root_.at(place.folder), name));
                        }
                    }
                    break;
                case Role::subfolder:
                    // Its removal is also an event of the folder above it.
                    matters = matters || !gone;
                    break;
                case Role::parent:
                    if (gone || name == watcher.awaited) again.insert(watcher.place);
                    // The folder, or a part of its path, appeared: it may hold files already.
                    if (!gone && name == watcher.awaited) matters = true;
                    break;
            }
        }
        if (gone) {
            // The kernel has stopped this watch (or is about to).
            if (auto still = by_descriptor_.find(event.wd); still != by_descriptor_.end() && (event.mask & IN_IGNORED))
                by_descriptor_.erase(still);
        }
        for (const std::size_t index : again) arm_again(index);
        return matters;
    }

    os::posix::Descriptor inotify_;
    const LinuxRoot root_;
    const std::vector<WatchedPlace> places_;
    const std::shared_ptr<os::WakeSignal> wake_;
    std::vector<std::string> failures_;                // per place: why it is not watched, or empty
    std::map<int, std::vector<Watcher>> by_descriptor_;  // the watches in force
};

}  // namespace

std::vector<WatchedPlace> watched_places(const LinuxContext& context, const std::vector<std::string>& autostart_dirs) {
    std::vector<WatchedPlace> places;
    std::set<std::string> seen;
    auto add = [&](std::string folder, std::string only_file, bool subfolders) {
        if (folder.empty() || !seen.insert(folder + "\n" + only_file).second) return;
        places.push_back(WatchedPlace{std::move(folder), std::move(only_file), subfolders});
    };
    for (std::string& folder : all_unit_folders(context)) add(std::move(folder), {}, true);
    for (const std::string& folder : autostart_dirs) add(context.expand(folder), {}, false);
    add(parent_of(std::string(system_crontab_file)), last_part(std::string(system_crontab_file)), false);
    add(std::string(system_crontab_folder), {}, false);
    // Root reads every account's crontab; anyone else only their own.
    add(std::string(crontab_spool_folder), context.facts.admin ? std::string() : context.facts.user, false);
    return places;
}

Result<std::unique_ptr<model::ChangeWatch>> watch_places(const LinuxRoot& root, std::vector<WatchedPlace> places,
                                                         std::shared_ptr<os::WakeSignal> wake) {
    os::posix::Descriptor inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify.valid())
        return fail(std::string("The system could not watch for changes: ") + std::strerror(errno) + ".");
    return std::unique_ptr<model::ChangeWatch>(
        std::make_unique<InotifyWatch>(std::move(inotify), root, std::move(places), std::move(wake)));
}

}  // namespace qm::linux
