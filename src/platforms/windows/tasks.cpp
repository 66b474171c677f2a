#include "platforms/windows/tasks.h"

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <utility>

#include "json/json.h"
#include "model/start_ways.h"
#include "os/system_tool.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/random_hex.h"
#include "os/windows/handle.h"
#include "platforms/windows/registry.h"
#include "os/windows/system_error.h"
#include "os/windows/wide.h"
#include "formats/task_definition.h"
#include "util/hex.h"
#include "util/text.h"
#include "formats/xml_text.h"
#include "platforms/windows/folder_entries.h"
#include "platforms/windows/task_cache.h"
#include "platforms/windows/task_record.h"
#include "platforms/windows/work_pool.h"

namespace qm::windows {

namespace {

constexpr std::string_view schtasks = "schtasks.exe";
constexpr unsigned query_seconds = 60;
constexpr unsigned change_seconds = 30;
// Real definitions are a few kilobytes; a larger one is still read (a task
// must not hide by its size) up to a bound that protects memory.
constexpr std::uint64_t largest_definition = 16u << 20;
// Sub-folders below a root that are still walked; deeper ones are not.
constexpr int deepest_folder = 6;
constexpr std::string_view own_folder = "\\Quillmoor\\";
constexpr std::string_view system_folder = "\\microsoft\\windows\\";

struct FoundTask {
    std::string path;  // "\Folder\Name"
    formats::TaskDefinition definition;
    std::uint64_t written = 0;  // the definition file's last-write time; 0 when not read from a file
};

// What the walk found, and what it could not read, by reason.
struct Walk {
    std::vector<FoundTask> tasks;
    std::size_t unreadable = 0;      // refused: the folder or file could not be opened
    std::size_t too_large = 0;       // over largest_definition
    std::size_t not_definition = 0;  // empty, or holds no task element
    std::size_t too_deep = 0;        // folders below deepest_folder
    std::size_t inexact_name = 0;    // a name with an unpaired surrogate
    std::size_t not_regular = 0;     // a link or device, never opened
    std::size_t repeated = 0;        // a folder reached again through a link
    std::set<std::string> visited;   // final paths of the folders read
    TaskRecord* record = nullptr;    // definitions kept from an earlier scan, if any
};


// What became of one file of a task folder.
struct FileRead {
    EntryInfo info;
    const TaskRecord::Kept* kept = nullptr;  // what the record has for the file as it is, if any
    enum class Outcome { not_read, unreadable, too_large, not_definition, definition } outcome = Outcome::not_read;
    formats::TaskDefinition definition;
};

// Reads one definition file; safe to run for several files at once.
void read_definition(const std::string& path, FileRead& read) {
    Result<std::string> bytes = os::read_file(path, largest_definition);
    if (!bytes) {
        read.outcome = FileRead::Outcome::unreadable;
        return;
    }
    if (bytes->size() > largest_definition) {
        read.outcome = FileRead::Outcome::too_large;
        return;
    }
    const std::string document = formats::decode_document(*bytes);
    if (formats::find_elements(document, "Task").empty()) {
        read.outcome = FileRead::Outcome::not_definition;
        return;
    }
    read.outcome = FileRead::Outcome::definition;
    read.definition = formats::read_task_definition(document);
}

// Collects every definition file of a folder and its sub-folders, in the
// order of their names, down to `deepest_folder` levels below the root. The
// files of a folder are looked at and read on a few threads at once
// (work_pool.h), and what they held is taken in the order of their names.
void walk_folder(const std::string& given_folder, const std::string& task_folder, int depth, Walk& walk) {
    const std::optional<std::string> real = final_folder_path(given_folder);
    if (real && !walk.visited.insert(to_lower_ascii(*real)).second) {
        ++walk.repeated;
        return;
    }
    // The files are reached through the folder as the file system spells it:
    // under Wine, every use of a path whose case differs from the disk's
    // ("System32" for "system32") reads the folders along it again.
    const std::string& folder = real ? *real : given_folder;
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
    if (!entries) {
        ++walk.unreadable;
        return;
    }
    std::sort(entries->begin(), entries->end(),
              [](const os::FolderEntry& a, const os::FolderEntry& b) { return a.name < b.name; });
    std::vector<std::string> paths;
    std::vector<std::size_t> files;  // indexes of the entries that are not folders
    for (std::size_t i = 0; i < entries->size(); ++i) {
        paths.push_back(os::join_path(folder, (*entries)[i].name));
        if (!(*entries)[i].is_folder) files.push_back(i);
    }
    std::vector<FileRead> reads(entries->size());
    run_on_workers(files.size(), [&](std::size_t j) { reads[files[j]].info = entry_info(paths[files[j]]); });
    // A file the record has as it is now is not opened. What is read is kept
    // under the state the file had before: should it change in between, the
    // next scan finds another state and reads it again.
    std::vector<std::size_t> to_read;
    for (std::size_t i : files) {
        FileRead& read = reads[i];
        const std::string& name = (*entries)[i].name;
        if (read.info.kind == EntryKind::missing && name.find("\xEF\xBF\xBD") != std::string::npos) continue;
        if (read.info.kind == EntryKind::not_regular) continue;
        if (walk.record != nullptr && read.info.kind == EntryKind::regular) {
            read.kept = walk.record->find(to_lower_ascii(paths[i]), FileStamp{read.info.size, read.info.written});
        }
        if (read.kept == nullptr) to_read.push_back(i);
    }
    run_on_workers(to_read.size(), [&](std::size_t j) { read_definition(paths[to_read[j]], reads[to_read[j]]); });

    for (std::size_t i = 0; i < entries->size(); ++i) {
        const os::FolderEntry& entry = (*entries)[i];
        const std::string task_path = task_folder + "\\" + entry.name;
        if (entry.is_folder) {
            if (depth < deepest_folder) {
                walk_folder(paths[i], task_path, depth + 1, walk);
            } else {
                ++walk.too_deep;
            }
            continue;
        }
        FileRead& read = reads[i];
        if (read.info.kind == EntryKind::missing && entry.name.find("\xEF\xBF\xBD") != std::string::npos) {
            // Listed, yet its name as read names no file: a surrogate was lost.
            ++walk.inexact_name;
            continue;
        }
        if (read.info.kind == EntryKind::not_regular) {
            ++walk.not_regular;
            continue;
        }
        if (read.kept != nullptr) {
            if (*read.kept) {
                walk.tasks.push_back(FoundTask{task_path, **read.kept, read.info.written});
            } else {
                ++walk.not_definition;
            }
            continue;
        }
        const auto keep = [&](const TaskRecord::Kept& kept) {
            if (walk.record != nullptr && read.info.kind == EntryKind::regular) {
                walk.record->store(to_lower_ascii(paths[i]), FileStamp{read.info.size, read.info.written}, kept);
            }
        };
        switch (read.outcome) {
            case FileRead::Outcome::not_read:
            case FileRead::Outcome::unreadable:
                ++walk.unreadable;
                break;
            case FileRead::Outcome::too_large:
                ++walk.too_large;
                break;
            case FileRead::Outcome::not_definition:
                ++walk.not_definition;
                keep(std::nullopt);
                break;
            case FileRead::Outcome::definition:
                walk.tasks.push_back(FoundTask{task_path, std::move(read.definition), read.info.written});
                keep(walk.tasks.back().definition);
                break;
        }
    }
}

// The tasks schtasks.exe lists, each with the path its URI names; nothing
// when the tool fails.
std::vector<FoundTask> query_tasks(const os::ToolRunner& runner) {
    std::vector<FoundTask> tasks;
    const os::RunOutput output = runner(os::ToolRun{os::system_tool(schtasks), {"/Query", "/XML"}, {}, query_seconds});
    if (!output.succeeded()) return tasks;
    // The runner decodes marked text; output in UTF-16 without a mark still
    // arrives as pairs of bytes and is decoded here.
    const std::string text = formats::decode_document(output.out);
    for (const formats::Element& element : formats::find_elements(text, "Task")) {
        formats::TaskDefinition definition = formats::read_task_definition(element.content);
        if (definition.uri.empty()) continue;
        std::string path = definition.uri.starts_with('\\') ? definition.uri : "\\" + definition.uri;
        tasks.push_back(FoundTask{std::move(path), std::move(definition), 0});
    }
    return tasks;
}

struct CurrentUser {
    std::string sid;
    std::string name;
};

// A task belongs to the user when it names no account, or names this user by
// SID, by name, or as "{domain or computer}\{name}".
bool belongs_to(const std::string& user_id, const CurrentUser& user) {
    if (user_id.empty()) return true;
    if (!user.sid.empty() && equal_ignoring_ascii_case(user_id, user.sid)) return true;
    if (user.name.empty()) return false;
    if (equal_ignoring_ascii_case(user_id, user.name)) return true;
    const std::string qualified = "\\" + user.name;
    return user_id.size() > qualified.size() &&
           equal_ignoring_ascii_case(std::string_view(user_id).substr(user_id.size() - qualified.size()), qualified);
}

std::string runs_at(const formats::TaskDefinition& definition) {
    if (definition.boot_trigger && definition.logon_trigger) return "boot and sign-in";
    return definition.boot_trigger ? "boot" : "sign-in";
}

model::StartupItem task_item(const FoundTask& task, bool admin, const CurrentUser& user, ProgramFacts& programs) {
    const formats::TaskDefinition& definition = task.definition;
    std::string name(file_name(task.path));
    if (name.empty()) name = task.path;
    model::StartupItem item(model::ItemKind::task, "Scheduled task", model::Scope::machine, task.path, name);

    std::string command = definition.command;
    if (!definition.arguments.empty()) command += " " + definition.arguments;
    item.command = expand_references(command);
    item.description = formats::shown_description(definition.description);
    item.changed = model::ChangeTime{formats::unix_seconds_of_file_time(task.written), "the task was written"};
    programs.fill(item);
    const bool own = task.path.starts_with(own_folder);
    if (own) {
        item.origin = model::Origin::own_entry;
    } else {
        item.origin = to_lower_ascii(task.path).starts_with(system_folder) ? model::Origin::operating_system
                                                                           : model::Origin::installed_program;
    }
    item.managed = own;

    const std::string when = runs_at(definition);
    item.enabled = definition.enabled;
    item.state_text = item.enabled ? "Enabled (runs at " + when + ")" : "Disabled";
    item.set_spec("short", name);
    item.set_spec("uri", task.path);
    item.set_spec("runs_at", when);
    item.set_spec("principal", definition.user_id);

    // The own task that starts a sign-in program later names that program;
    // the engine links the two by `delays`.
    if (own && definition.logon_trigger) {
        if (const std::optional<LaterStart> later = read_later_start_source(definition.source)) {
            item.ways.delays = later->item_id;
            item.ways.taken_seconds = formats::duration_seconds(definition.logon_delay).value_or(0);
            item.set_spec("delays", later->item_id);
            item.set_spec("approval", later->had_approval
                                          ? std::to_string(later->approval_type) + ":" + to_hex(later->approval_bytes)
                                          : std::string("none"));
            if (item.enabled) {
                item.state_text = "Starts " + later->item_name + " " + model::seconds_text(item.ways.taken_seconds) +
                                  " after sign-in";
            }
        }
    }

    const bool full_rights = equal_ignoring_ascii_case(definition.run_level, "HighestAvailable");
    if (!admin && (full_rights || !belongs_to(definition.user_id, user))) item.toggle = model::Toggle::admin;
    return item;
}

// The program of a task's first Exec action, as its Command names it.
std::string action_program(const formats::TaskDefinition& definition) {
    std::string program = trim(expand_references(definition.command));
    if (program.size() >= 2 && program.front() == '"' && program.back() == '"')
        program = program.substr(1, program.size() - 2);
    return program;
}

// Every task found, whether or not it starts with the computer, as
// something that may have written a startup entry when it last ran: the
// tasks listed carry their item's id and publisher; the others the
// publisher of their program only when this scan has read it already.
void add_task_actors(const std::vector<FoundTask>& tasks, const std::vector<const model::StartupItem*>& items,
                     const ProgramFacts& programs, std::vector<model::ChangeActor>& actors) {
    std::vector<std::string> paths;
    paths.reserve(tasks.size());
    for (const FoundTask& task : tasks) paths.push_back(task.path);
    const std::vector<std::int64_t> last_runs = task_last_runs(paths);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        model::ChangeActor actor;
        actor.kind = model::ActorKind::task;
        actor.name = std::string(file_name(tasks[i].path));
        if (actor.name.empty()) actor.name = tasks[i].path;
        actor.exe = action_program(tasks[i].definition);
        if (const model::StartupItem* item = items[i]) {
            actor.item_id = item->id();
            actor.publisher = item->publisher;
        } else if (!actor.exe.empty()) {
            actor.publisher = programs.known_publisher(actor.exe);
        }
        actor.time = last_runs[i];
        actors.push_back(std::move(actor));
    }
}

void append_utf16le(std::string& bytes, std::wstring_view text) {
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
}

}  // namespace

std::string system_root() {
    std::optional<std::string> root = os::get_env("SystemRoot");
    return root && !root->empty() ? *root : std::string("C:\\Windows");
}

void scan_tasks(const std::vector<std::string>& task_roots, bool admin, ProgramFacts& programs,
                model::ScanResult& result, TaskRecord* record, const os::ToolRunner& runner) {
    const std::string windows = system_root();
    Walk walk;
    walk.record = record;
    bool any_root = false;
    for (const std::string& root : task_roots) {
        const std::string folder = os::join_path(windows, root);
        if (os::path_kind(folder) != os::PathKind::folder) continue;
        any_root = true;
        walk_folder(folder, "", 0, walk);
    }
    // Without administrator rights most of the task folder may be closed;
    // the Task Scheduler still lists what this user may see. A folder that
    // was read and holds no definition has no tasks to ask it about, and
    // starting schtasks.exe costs more than the rest of the scan.
    const bool ask_scheduler = walk.tasks.empty() && (walk.unreadable > 0 || !any_root);
    std::vector<FoundTask> tasks = ask_scheduler ? query_tasks(runner) : std::move(walk.tasks);

    // Two roots may hold a task of the same path; the first one read stands,
    // so that no two items share an id.
    std::set<std::string> seen_paths;
    std::erase_if(tasks, [&](const FoundTask& task) { return !seen_paths.insert(to_lower_ascii(task.path)).second; });

    CurrentUser user;
    user.sid = current_user_sid().value_or(std::string());
    user.name = os::get_env("USERNAME").value_or(std::string());
    // Which item each task became, by index into the items, kept as an
    // index while the items still grow.
    std::vector<std::optional<std::size_t>> item_of_task(tasks.size());
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        const FoundTask& task = tasks[i];
        if (!task.definition.logon_trigger && !task.definition.boot_trigger) continue;
        item_of_task[i] = result.items.size();
        result.items.push_back(task_item(task, admin, user, programs));
    }
    std::vector<const model::StartupItem*> items(tasks.size(), nullptr);
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        if (item_of_task[i]) items[i] = &result.items[*item_of_task[i]];
    }
    add_task_actors(tasks, items, programs, result.actors);
    if (walk.unreadable > 0 && !admin) {
        result.notes.push_back(std::to_string(walk.unreadable) +
                               " scheduled task(s) could not be read without administrator rights; restart as "
                               "administrator to see them all.");
    }
    const std::pair<std::size_t, std::string_view> skipped[] = {
        {walk.too_large,
         " scheduled task file(s) are larger than 16 MiB, which no task definition is, and were not "
         "read."},
        {walk.not_definition, " file(s) in the task folder are empty or not task definitions and were skipped."},
        {walk.too_deep, " task folder(s) lie more than 6 levels deep and were not read."},
        {walk.inexact_name,
         " scheduled task(s) have a name that cannot be read back exactly (it holds an unpaired "
         "UTF-16 surrogate) and are not listed."},
        {walk.not_regular, " entries of the task folder are links or devices rather than files and were not opened."},
        {walk.repeated, " task folder(s) are reached again through a link and were read once."},
    };
    for (const auto& [count, text] : skipped) {
        if (count > 0) result.notes.push_back(std::to_string(count) + std::string(text));
    }
}

Result<model::ChangeOutcome> switch_task(const model::StartupItem& item, bool on, bool admin,
                                         const os::ToolRunner& runner) {
    const std::string& path = item.spec_value("uri");
    // Task paths begin with a backslash; anything else (an empty path, or
    // text that schtasks.exe would read as a switch) is not passed on.
    if (!path.starts_with('\\')) return fail("This scheduled task cannot be switched: its path is missing.");
    const os::RunOutput output = runner(os::ToolRun{
        os::system_tool(schtasks), {"/Change", "/TN", path, on ? "/ENABLE" : "/DISABLE"}, {}, change_seconds});
    if (output.succeeded()) return model::ChangeOutcome{item.name + (on ? " is switched on" : " is switched off"), {}};
    // Without administrator rights the likely cause is the rights; the engine
    // offers a restart as administrator for failures marked so.
    if (!admin) return fail(ErrorKind::needs_admin, "Windows refused to change the scheduled task.");
    const std::string said = os::tool_output_text(output);
    return fail("Windows could not change the task." + (said.empty() ? std::string() : " " + said));
}

Result<std::string> current_user_sid() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return fail(os::windows::system_error("the process token", ::GetLastError()));
    }
    const os::windows::Handle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return fail(os::windows::system_error("the token's user", ::GetLastError()));
    // Storage of 8-byte units keeps TOKEN_USER aligned.
    std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return fail(os::windows::system_error("the token's user", ::GetLastError()));
    }
    const auto* token_user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(token_user->User.Sid, &text)) {
        return fail(os::windows::system_error("the user's SID", ::GetLastError()));
    }
    std::string sid = os::windows::to_utf8(text);
    ::LocalFree(text);
    return sid;
}

std::string own_boot_task_document(std::string_view name, std::string_view command, std::string_view arguments,
                                   std::string_view workdir) {
    const std::string description = "Started at boot. Created by Quillmoor for " + std::string(name) + ".";
    std::string document;
    document += "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n";
    document += "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n";
    document +=
        "  <RegistrationInfo><Description>" + formats::escape(description) + "</Description></RegistrationInfo>\n";
    document += "  <Triggers><BootTrigger><Enabled>true</Enabled><Delay>PT30S</Delay></BootTrigger></Triggers>\n";
    document +=
        "  <Principals><Principal id=\"Author\"><UserId>S-1-5-18</UserId>"
        "<RunLevel>HighestAvailable</RunLevel></Principal></Principals>\n";
    document +=
        "  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
        "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
        "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
        "<AllowHardTerminate>true</AllowHardTerminate><StartWhenAvailable>true</StartWhenAvailable>"
        "<Enabled>true</Enabled><ExecutionTimeLimit>PT0S</ExecutionTimeLimit></Settings>\n";
    document += "  <Actions Context=\"Author\"><Exec><Command>" + formats::escape(command) + "</Command><Arguments>" +
                formats::escape(arguments) + "</Arguments><WorkingDirectory>" + formats::escape(workdir) +
                "</WorkingDirectory></Exec></Actions>\n";
    document += "</Task>\n";
    return document;
}

std::string later_start_source(const LaterStart& later) {
    json::ObjectBuilder out;
    out.string("quillmoor", "later").string("item", later.item_id).string("name", later.item_name);
    if (later.had_approval) {
        out.value("approval", json::ObjectBuilder()
                                  .count("type", later.approval_type)
                                  .string("bytes", to_hex(later.approval_bytes))
                                  .done());
    } else {
        out.value("approval", json::JsonValue());
    }
    return json::write(out.done());
}

std::optional<LaterStart> read_later_start_source(std::string_view source) {
    if (!source.starts_with('{')) return std::nullopt;
    const Result<json::JsonValue> parsed = json::parse(source);
    if (!parsed || !parsed->is_object() || json::get_text(*parsed, "quillmoor") != "later") return std::nullopt;
    LaterStart later;
    later.item_id = json::get_text(*parsed, "item");
    later.item_name = json::get_text(*parsed, "name");
    const json::JsonValue* approval = json::get(*parsed, "approval");
    if (later.item_id.empty() || approval == nullptr) return std::nullopt;
    if (approval->is_object()) {
        const json::JsonValue* type = json::get(*approval, "type");
        std::optional<std::string> bytes = from_hex(json::get_text(*approval, "bytes"));
        if (type == nullptr || !type->is_number() || !bytes) return std::nullopt;
        later.had_approval = true;
        later.approval_type = static_cast<std::uint32_t>(type->as_number());
        later.approval_bytes = std::move(*bytes);
    } else if (!approval->is_null()) {
        return std::nullopt;
    }
    return later;
}

std::string own_later_task_document(const LaterStart& later, std::string_view user_sid, std::uint32_t seconds,
                                    std::string_view command, std::string_view arguments, std::string_view workdir) {
    const std::string description =
        "Starts " + later.item_name + " " + model::seconds_text(seconds) + " after sign-in. Created by Quillmoor.";
    const std::string user = formats::escape(user_sid);
    std::string document;
    document += "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n";
    document += "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n";
    document += "  <RegistrationInfo><Source>" + formats::escape(later_start_source(later)) + "</Source><Description>" +
                formats::escape(description) + "</Description></RegistrationInfo>\n";
    document += "  <Triggers><LogonTrigger><Enabled>true</Enabled><UserId>" + user + "</UserId><Delay>" +
                model::iso_duration(seconds) + "</Delay></LogonTrigger></Triggers>\n";
    document += "  <Principals><Principal id=\"Author\"><UserId>" + user +
                "</UserId><LogonType>InteractiveToken</LogonType><RunLevel>LeastPrivilege</RunLevel></Principal>"
                "</Principals>\n";
    document +=
        "  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
        "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
        "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
        "<AllowHardTerminate>true</AllowHardTerminate><StartWhenAvailable>false</StartWhenAvailable>"
        "<Enabled>true</Enabled><ExecutionTimeLimit>PT0S</ExecutionTimeLimit></Settings>\n";
    document += "  <Actions Context=\"Author\"><Exec><Command>" + formats::escape(command) + "</Command>";
    if (!arguments.empty()) document += "<Arguments>" + formats::escape(arguments) + "</Arguments>";
    if (!workdir.empty()) document += "<WorkingDirectory>" + formats::escape(workdir) + "</WorkingDirectory>";
    document += "</Exec></Actions>\n";
    document += "</Task>\n";
    return document;
}

Result<std::string> write_task_file(std::string_view document) {
    const std::optional<std::string> token = os::random_hex(16);
    if (!token) return fail("The system could not provide random numbers.");
    std::string folder;
    if (const std::optional<std::string> root = os::get_env("SystemRoot"); root && !root->empty()) {
        std::string temp = os::join_path(*root, "Temp");
        if (os::path_kind(temp) == os::PathKind::folder) folder = std::move(temp);
    }
    if (folder.empty()) folder = os::temp_folder();
    const std::string path = os::join_path(folder, "quillmoor-task-" + *token + ".xml");

    std::string bytes = "\xFF\xFE";
    append_utf16le(bytes, os::windows::to_wide(document));
    Result<void> written = os::write_file_replace(path, bytes);
    if (!written) return fail("cannot write the task file: " + os::failure_reason(written.error().message));
    return path;
}

os::RunOutput register_task(std::string_view task_path, const std::string& definition_file,
                            const os::ToolRunner& runner) {
    return runner(os::ToolRun{os::system_tool(schtasks),
                              {"/Create", "/TN", std::string(task_path), "/XML", definition_file, "/F"},
                              {},
                              change_seconds});
}

os::RunOutput delete_task(std::string_view task_path, const os::ToolRunner& runner) {
    return runner(
        os::ToolRun{os::system_tool(schtasks), {"/Delete", "/TN", std::string(task_path), "/F"}, {}, change_seconds});
}

}  // namespace qm::windows
