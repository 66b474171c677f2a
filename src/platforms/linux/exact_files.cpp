#include "platforms/linux/exact_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "json/json.h"
#include "os/files.h"
#include "util/hex.h"
#include "util/sha256.h"

namespace qm::linux {

namespace {

std::string_view kind_word(PathStateKind kind) {
    switch (kind) {
        case PathStateKind::missing:
            return "missing";
        case PathStateKind::file:
            return "file";
        case PathStateKind::link:
            return "link";
        case PathStateKind::folder:
            return "folder";
        case PathStateKind::other:
            return "other";
    }
    return "other";
}

std::optional<PathStateKind> kind_of_word(std::string_view word) {
    for (PathStateKind kind : {PathStateKind::missing, PathStateKind::file, PathStateKind::link, PathStateKind::folder,
                               PathStateKind::other}) {
        if (kind_word(kind) == word) return kind;
    }
    return std::nullopt;
}

json::JsonValue state_json(const PathState& state) {
    return json::ObjectBuilder()
        .string("path", state.path)
        .string("kind", std::string(kind_word(state.kind)))
        .string("data", to_hex(state.data))
        .count("mode", state.mode)
        .count("uid", state.uid)
        .count("gid", state.gid)
        .done();
}

std::optional<PathState> state_from_json(const json::JsonValue& value) {
    PathState state;
    state.path = json::get_text(value, "path");
    const std::optional<PathStateKind> kind = kind_of_word(json::get_text(value, "kind"));
    std::optional<std::string> data = from_hex(json::get_text(value, "data"));
    if (state.path.empty() || !kind || !data) return std::nullopt;
    state.kind = *kind;
    state.data = std::move(*data);
    state.mode = static_cast<std::uint32_t>(json::get_count(value, "mode"));
    state.uid = static_cast<std::uint32_t>(json::get_count(value, "uid"));
    state.gid = static_cast<std::uint32_t>(json::get_count(value, "gid"));
    return state;
}

std::optional<std::vector<PathState>> states_from_json(const json::JsonValue* array) {
    if (array == nullptr || !array->is_array()) return std::nullopt;
    std::vector<PathState> states;
    for (const json::JsonValue& value : array->as_array()) {
        std::optional<PathState> state = state_from_json(value);
        if (!state) return std::nullopt;
        states.push_back(std::move(*state));
    }
    return states;
}

std::string memory_file(const std::string& folder, const std::string& root, const std::string& id) {
    return os::join_path(folder, sha256_hex(root + "\n" + id).substr(0, 32) + ".json");
}

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string system_reason() { return std::strerror(errno); }

}  // namespace

PathState read_path_state(const std::string& path) {
    PathState state;
    state.path = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        state.kind = errno == ENOENT || errno == ENOTDIR ? PathStateKind::missing : PathStateKind::other;
        return state;
    }
    state.mode = static_cast<std::uint32_t>(info.st_mode & 07777);
    state.uid = static_cast<std::uint32_t>(info.st_uid);
    state.gid = static_cast<std::uint32_t>(info.st_gid);
    if (S_ISLNK(info.st_mode)) {
        Result<std::string> target = link_target(path);
        state.kind = target ? PathStateKind::link : PathStateKind::other;
        state.data = target.value_or("");
        state.mode = 0;  // a link has no permissions of its own
        return state;
    }
    if (S_ISREG(info.st_mode)) {
        Result<std::string> bytes = os::read_whole_file(path);
        state.kind = bytes ? PathStateKind::file : PathStateKind::other;
        state.data = bytes.value_or("");
        return state;
    }
    state.kind = S_ISDIR(info.st_mode) ? PathStateKind::folder : PathStateKind::other;
    return state;
}

Result<void> put_back(const PathState& state) {
    const std::string& path = state.path;
    struct stat info {};
    const bool present = ::lstat(path.c_str(), &info) == 0;
    if (present && S_ISDIR(info.st_mode) && state.kind == PathStateKind::missing) {
        // A folder the change made goes again when it is empty.
        if (::rmdir(path.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT)
            return fail("Could not remove the folder " + path + ": " + system_reason() + ".");
        return {};
    }
    if (present && S_ISDIR(info.st_mode) && state.kind != PathStateKind::folder)
        return fail("Could not put back " + path + ": a folder is there now.");
    // A folder emptied by the change may have gone with its last link.
    if (state.kind != PathStateKind::missing) QM_TRY_VOID(create_folders_owned(parent_of(path)));
    switch (state.kind) {
        case PathStateKind::missing:
            return os::remove_file(path);
        case PathStateKind::link:
            if (present && !S_ISLNK(info.st_mode)) QM_TRY_VOID(os::remove_file(path));
            QM_TRY_VOID(make_link(state.data, path));
            if (::lchown(path.c_str(), state.uid, state.gid) != 0 && errno != EPERM)
                return fail("Could not give back " + path + " to its owner: " + system_reason() + ".");
            return {};
        case PathStateKind::file:
            if (present && !S_ISREG(info.st_mode)) QM_TRY_VOID(os::remove_file(path));
            QM_TRY_VOID(os::write_file_replace(path, state.data));
            if (::lchown(path.c_str(), state.uid, state.gid) != 0 && ::geteuid() == 0)
                return fail("Could not give back " + path + " to its owner: " + system_reason() + ".");
            if (::chmod(path.c_str(), state.mode) != 0)
                return fail("Could not put back the permissions of " + path + ": " + system_reason() + ".");
            return {};
        case PathStateKind::folder:
            if (present && !S_ISDIR(info.st_mode)) QM_TRY_VOID(os::remove_file(path));
            QM_TRY_VOID(create_folders_owned(path));
            if (::lchown(path.c_str(), state.uid, state.gid) != 0 && ::geteuid() == 0)
                return fail("Could not give back " + path + " to its owner: " + system_reason() + ".");
            if (::chmod(path.c_str(), state.mode) != 0)
                return fail("Could not put back the permissions of " + path + ": " + system_reason() + ".");
            return {};
        case PathStateKind::other:
            break;
    }
    return fail("Could not put back " + path + ": it was not a file, link or folder.");
}

std::optional<RememberedChange> recall_change(const std::string& folder, const std::string& root,
                                              const std::string& id) {
    if (folder.empty()) return std::nullopt;
    Result<std::string> text = os::read_whole_file(memory_file(folder, root, id));
    if (!text) return std::nullopt;
    Result<json::JsonValue> parsed = json::parse(*text);
    if (!parsed || json::get_text(*parsed, "id") != id || json::get_text(*parsed, "root") != root) return std::nullopt;
    RememberedChange change;
    change.on = json::get_flag(*parsed, "on");
    std::optional<std::vector<PathState>> before = states_from_json(json::get(*parsed, "before"));
    std::optional<std::vector<PathState>> after = states_from_json(json::get(*parsed, "after"));
    if (!before || !after || before->size() != after->size()) return std::nullopt;
    change.before = std::move(*before);
    change.after = std::move(*after);
    return change;
}

Result<void> remember_change(const std::string& folder, const std::string& root, const std::string& id,
                             const RememberedChange& change) {
    QM_TRY_VOID(os::create_folders(folder));
    json::JsonValue before = json::JsonValue::array();
    json::JsonValue after = json::JsonValue::array();
    for (const PathState& state : change.before) before.push_back(state_json(state));
    for (const PathState& state : change.after) after.push_back(state_json(state));
    const json::JsonValue record = json::ObjectBuilder()
                                       .string("id", id)
                                       .string("root", root)
                                       .flag("on", change.on)
                                       .value("before", std::move(before))
                                       .value("after", std::move(after))
                                       .done();
    return os::write_file_replace(memory_file(folder, root, id), json::write(record), os::NewFile{false, true});
}

std::vector<std::string> items_switched_off(const std::string& folder, const std::string& root) {
    std::vector<std::string> ids;
    if (folder.empty()) return ids;
    for (const os::FolderEntry& entry : os::list_folder(folder).value_or(std::vector<os::FolderEntry>{})) {
        if (entry.is_folder || !entry.name.ends_with(".json")) continue;
        Result<std::string> text = os::read_whole_file(os::join_path(folder, entry.name), 1u << 20);
        if (!text) continue;
        Result<json::JsonValue> parsed = json::parse(*text);
        if (!parsed || json::get_text(*parsed, "root") != root || json::get_flag(*parsed, "on")) continue;
        ids.push_back(json::get_text(*parsed, "id"));
    }
    return ids;
}

Result<model::ChangeOutcome> switch_exactly(const LinuxContext& context, const model::StartupItem& item, bool on,
                                            const TouchedPaths& paths, const Switch& edit,
                                            const Switch& after_put_back) {
    const std::string& folder = context.memory_folder;
    const std::string& root = context.root.folder;
    if (folder.empty()) return edit();

    // The last change the other way, when every file it made is still as it made it.
    if (std::optional<RememberedChange> last = recall_change(folder, root, item.id()); last && last->on != on) {
        bool untouched = !last->after.empty();
        for (const PathState& state : last->after) untouched = untouched && read_path_state(state.path) == state;
        if (untouched) {
            // What was there comes back first (folders before what is in them),
            // then what was not there goes (in the opposite order).
            for (const PathState& state : last->before)
                if (state.kind != PathStateKind::missing) QM_TRY_VOID(put_back(state));
            for (auto state = last->before.rbegin(); state != last->before.rend(); ++state)
                if (state->kind == PathStateKind::missing) QM_TRY_VOID(put_back(*state));
            model::ChangeOutcome outcome = QM_TRY(after_put_back());
            RememberedChange now{on, last->after, last->before};
            if (Result<void> kept = remember_change(folder, root, item.id(), now); !kept)
                outcome.notes.push_back("What this change did could not be kept: " + kept.error().message);
            return outcome;
        }
    }

    const std::vector<std::string> before_paths = paths();
    std::vector<PathState> before;
    for (const std::string& path : before_paths) before.push_back(read_path_state(path));
    model::ChangeOutcome outcome = QM_TRY(edit());

    std::vector<std::string> after_paths = paths();
    std::set<std::string> all(before_paths.begin(), before_paths.end());
    all.insert(after_paths.begin(), after_paths.end());
    RememberedChange change;
    change.on = on;
    for (const std::string& path : all) {
        auto earlier = std::find_if(before.begin(), before.end(), [&](const PathState& s) { return s.path == path; });
        // A path first listed afterwards was not there before.
        PathState was;
        if (earlier != before.end()) was = *earlier;
        was.path = path;
        PathState is = read_path_state(path);
        if (was == is || was.kind == PathStateKind::other || is.kind == PathStateKind::other) continue;
        change.before.push_back(std::move(was));
        change.after.push_back(std::move(is));
    }
    if (Result<void> kept = remember_change(folder, root, item.id(), change); !kept)
        outcome.notes.push_back("What this change did could not be kept for undoing it exactly: " +
                                kept.error().message);
    return outcome;
}

void give_to_folder_owner(const std::string& path) {
    if (::geteuid() != 0) return;
    struct stat folder {};
    if (::stat(parent_of(path).c_str(), &folder) != 0) return;
    (void)::lchown(path.c_str(), folder.st_uid, folder.st_gid);
}

Result<void> create_folders_owned(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed.empty() || os::path_kind(trimmed) == os::PathKind::folder) return {};
    const std::string parent = parent_of(trimmed);
    if (parent != trimmed) QM_TRY_VOID(create_folders_owned(parent));
    if (QM_TRY(os::create_folder(trimmed))) give_to_folder_owner(trimmed);
    return {};
}

}  // namespace qm::linux
