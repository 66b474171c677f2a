#include "knowledge/knowledge_store.h"

#include <algorithm>

#include "knowledge/builtin_pack.h"
#include "os/system_tool.h"
#include "os/environment.h"
#include "os/files.h"
#include "util/build_info.h"
#include "util/hex.h"
#include "os/text_file.h"
#include "util/sha256.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::knowledge {

namespace {

constexpr std::string_view settings_name = "settings.json";
constexpr std::string_view local_name = "local.json";
constexpr std::string_view previous_name = "previous";
// Pack files that a rollback takes out of use are kept here, not deleted.
constexpr std::string_view retired_name = "retired";
// The settings are a handful of short texts; anything larger is not ours.
constexpr std::uint64_t settings_max_bytes = 65536;

bool is_pack_file(std::string_view name) { return name.starts_with("pack-") && name.ends_with(".json"); }

std::string version_of_pack_file(std::string_view name) {
    name.remove_prefix(5);
    name.remove_suffix(5);
    return std::string(name);
}

std::vector<std::string> pack_files_in(const std::string& folder) {
    std::vector<std::string> names;
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
    if (!entries) return names;
    for (const os::FolderEntry& entry : *entries) {
        if (!entry.is_folder && is_pack_file(entry.name)) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

json::JsonValue settings_json(const KnowledgeSettings& settings) {
    return json::ObjectBuilder()
        .flag("auto_check", settings.auto_check)
        .string("url", settings.url)
        .string("last_check", settings.last_check)
        .string("last_result", settings.last_result)
        .done();
}

// One file of the knowledge folder, read no further than `limit` bytes. The
// failure is the reason alone ("it is larger than 3 MB." or the system's),
// since the notes name the file themselves.
Result<std::string> read_knowledge_file(const std::string& folder, const std::string& name, std::uint64_t limit) {
    const std::string path = os::join_path(folder, name);
    Result<std::string> text = os::read_text_file(path, limit);
    if (text) return text;
    std::string reason = text.error().message;
    if (const std::string named = "Could not read " + path + ": "; reason.starts_with(named))
        reason.erase(0, named.size());
    return fail(reason);
}

// The settings as stored, or the defaults when the file is missing, damaged
// or too large.
KnowledgeSettings read_settings(const std::string& folder) {
    Result<std::string> text = read_knowledge_file(folder, std::string(settings_name), settings_max_bytes);
    return text ? parse_knowledge_settings(*text) : KnowledgeSettings{};
}

}  // namespace

KnowledgeSettings parse_knowledge_settings(std::string_view text) {
    KnowledgeSettings settings;
    Result<json::JsonValue> parsed = json::parse(text);
    if (!parsed || !parsed->is_object()) return settings;
    settings.auto_check = json::get_flag(*parsed, "auto_check");
    settings.url = json::get_text(*parsed, "url");
    settings.last_check = json::get_text(*parsed, "last_check");
    settings.last_result = json::get_text(*parsed, "last_result");
    return settings;
}

std::string KnowledgeSettings::address() const { return url.empty() ? std::string(default_knowledge_url) : url; }

std::string LoadedKnowledge::installed_source() const {
    return pack_version.empty() ? std::string("local") : "update " + pack_version;
}

const std::string& LoadedKnowledge::version_in_force() const {
    return pack_version.empty() ? builtin->version : pack_version;
}

KnowledgeStore::KnowledgeStore(model::DataFolder folder, os::ToolRunner runner)
    : folder_(std::move(folder)), runner_(std::move(runner)) {}

std::string KnowledgeStore::knowledge_folder() const { return os::join_path(folder_.write_folder, "knowledge"); }

std::shared_ptr<const LoadedKnowledge> KnowledgeStore::current() {
    {
        std::lock_guard lock(snapshot_lock_);
        if (loaded_) return loaded_;
    }
    std::lock_guard loading(load_lock_);
    {
        std::lock_guard lock(snapshot_lock_);
        if (loaded_) return loaded_;
    }
    std::shared_ptr<const LoadedKnowledge> fresh = load();
    std::lock_guard lock(snapshot_lock_);
    loaded_ = fresh;
    return fresh;
}

void KnowledgeStore::drop_loaded() {
    std::lock_guard lock(snapshot_lock_);
    loaded_.reset();
}

std::shared_ptr<const LoadedKnowledge> KnowledgeStore::load() {
    auto state = std::make_shared<LoadedKnowledge>();
    state->builtin = &builtin_pack();
    if (const std::string& problem = builtin_pack_problem(); !problem.empty()) {
        // Cannot happen with a program that passed its tests; say so rather than stop.
        state->notes.push_back("broken: the built-in knowledge could not be read: " + problem);
    }

    const std::string folder = knowledge_folder();
    std::vector<std::string> names;
    if (Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder)) {
        for (const os::FolderEntry& entry : *entries) {
            if (!entry.is_folder && entry.name.ends_with(".json") && entry.name != settings_name) {
                names.push_back(entry.name);
            }
        }
    }
    std::sort(names.begin(), names.end());

    std::optional<KnowledgePack> local;
    std::optional<KnowledgePack> newest;
    for (const std::string& name : names) {
        // Every such file is checked, so a damaged one is reported even when
        // it would not be used.
        Result<std::string> text = read_knowledge_file(folder, name, knowledge_pack_max_bytes);
        Result<KnowledgePack> pack = text ? parse_pack(*text) : Result<KnowledgePack>(fail(text.error()));
        if (!pack) {
            state->notes.push_back("Knowledge file " + name + " was ignored: " + pack.error().message);
            continue;
        }
        if (name == local_name) {
            local = std::move(*pack);
        } else if (!name.starts_with("pack-")) {
            continue;
        } else if (!newest || compare_versions(pack->version, newest->version) > 0) {
            newest = std::move(*pack);
        }
    }

    if (local) {
        state->installed.rules = local->rules;
        state->installed.hints = local->hints;
        state->installed.locations = local->locations;
        state->local_rules = local->rule_count();
    }
    if (newest && compare_versions(newest->version, state->builtin->version) > 0) {
        for (std::size_t i = 0; i < state->installed.rules.size(); ++i) {
            auto& into = state->installed.rules[i];
            into.insert(into.end(), newest->rules[i].begin(), newest->rules[i].end());
        }
        state->installed.hints.insert(state->installed.hints.end(), newest->hints.begin(), newest->hints.end());
        merge_locations(state->installed.locations, newest->locations);
        state->installed.version = newest->version;
        state->pack_version = newest->version;
        state->pack_published = newest->published;
        state->pack_description = newest->description;
    }
    state->locations = state->builtin->locations;
    merge_locations(state->locations, state->installed.locations);

    const std::string settings_path = os::join_path(folder, settings_name);
    if (os::path_kind(settings_path) != os::PathKind::missing) {
        Result<std::string> settings = read_knowledge_file(folder, std::string(settings_name), settings_max_bytes);
        if (settings) {
            state->settings = parse_knowledge_settings(*settings);
        } else {
            state->notes.push_back("Knowledge settings file " + std::string(settings_name) +
                                   " was ignored, so the defaults apply: " + settings.error().message);
        }
    }
    return state;
}

json::JsonValue KnowledgeStore::status_json() {
    std::shared_ptr<const LoadedKnowledge> state = current();
    return json::ObjectBuilder()
        .string("builtin_version", state->builtin->version)
        .count("builtin_rules", state->builtin->rule_count())
        .string("pack_version", state->pack_version)
        .string("pack_published", state->pack_published)
        .string("pack_description", state->pack_description)
        .count("local_rules", state->local_rules)
        .flag("auto_check", state->settings.auto_check)
        .string("url", state->settings.address())
        .string("last_check", state->settings.last_check)
        .string("last_result", state->settings.last_result)
        .strings("notes", state->notes)
        .string("folder", knowledge_folder())
        .done();
}

std::string curl_program() {
    // The distribution's own curl by its full path, or on Windows curl.exe by
    // its full path in the system folder, so no folder early on PATH can put
    // another program in its place.
    if (os::path_separator() == '/') return "/usr/bin/curl";
    return os::system_tool("curl.exe");
}

Result<std::string> KnowledgeStore::download(const std::string& address) {
    os::ToolRun run;
    run.program = curl_program();
    run.arguments = {"-q",
                     "-fsSL",
                     "--proto",
                     "=https",
                     "--proto-redir",
                     "=https",
                     "--max-time",
                     "30",
                     "--max-filesize",
                     "3000000",
                     "-A",
                     "Quillmoor/" + std::string(build::version),
                     address};
    run.time_limit_seconds = 40;
    os::RunOutput output = runner_(run);
    if (output.succeeded()) return std::move(output.out);
    if (output.exit_code && *output.exit_code == 22) {
        return fail("The address answered \"not found\". No knowledge update has been published there yet.");
    }
    const long long status =
        output.exit_code ? static_cast<long long>(static_cast<std::int32_t>(*output.exit_code)) : -1;
    std::string message = "The download failed (" + std::to_string(status) + ").";
    std::string detail = shorten(trim(output.err), 160);
    if (!detail.empty()) message += " " + detail;
    return fail(message);
}

Result<std::string> KnowledgeStore::run_update(const std::string& address) {
    if (!address.starts_with("https://")) return fail("Updates are only fetched over https.");
    for (char c : address) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '"' || c == '\'' ||
            c == '`') {
            return fail("That address is not valid.");
        }
    }
    std::string text = QM_TRY(download(address));

    std::string note = "No checksum was published beside it, so it was checked for form only.";
    if (Result<std::string> published = download(address + ".sha256")) {
        std::string expected = to_lower_ascii(trim(*published).substr(0, 64));
        if (expected.size() == 64 && std::all_of(expected.begin(), expected.end(), is_hex_digit)) {
            if (sha256_hex(text) != expected && sha256_hex("\xEF\xBB\xBF" + text) != expected) {
                return fail("The downloaded file does not match its published checksum, so it was not used.");
            }
            note = "Its checksum matched.";
        }
    }

    KnowledgePack pack = QM_TRY(parse_pack(text));
    const std::string in_force = current()->version_in_force();
    if (compare_versions(pack.version, in_force) <= 0) {
        return "Already up to date (knowledge " + in_force + "; the published one is " + pack.version + ").";
    }
    QM_TRY(install(text));
    return "Updated the knowledge from " + in_force + " to " + pack.version + " (" + pack.published + "). " + note;
}

Result<std::string> KnowledgeStore::update(std::string address) {
    if (address.empty()) {
        address = current()->settings.address();
    }
    Result<std::string> report = run_update(address);
    record_run(report ? *report : "Failed: " + report.error().message);
    return report;
}

void KnowledgeStore::record_run(const std::string& result) {
    std::lock_guard files(files_lock_);
    const std::string folder = knowledge_folder();
    const std::string path = os::join_path(folder, settings_name);
    KnowledgeSettings settings = read_settings(folder);
    settings.last_check = time_text(now_unix_seconds());
    settings.last_result = result;
    // The report already went to the caller; a settings file that cannot be
    // written only loses the record of when the check ran.
    if (os::create_folders(folder)) (void)os::write_file_replace(path, json::write(settings_json(settings)));
    drop_loaded();
}

Result<void> KnowledgeStore::save_settings(bool auto_check, std::string url) {
    std::lock_guard files(files_lock_);
    const std::string folder = knowledge_folder();
    const std::string path = os::join_path(folder, settings_name);
    KnowledgeSettings settings = read_settings(folder);
    settings.auto_check = auto_check;
    settings.url = std::move(url);
    if (Result<void> made = os::create_folders(folder); !made)
        return fail("cannot create " + folder + ": " + made.error().message);
    if (Result<void> written = os::write_file_replace(path, json::write(settings_json(settings))); !written) {
        return fail("cannot save the settings: " + written.error().message);
    }
    drop_loaded();
    return {};
}

Result<KnowledgePack> KnowledgeStore::install(std::string_view text) {
    KnowledgePack pack = QM_TRY(parse_pack(text));
    std::lock_guard files(files_lock_);
    const std::string folder = knowledge_folder();
    const std::string previous = os::join_path(folder, previous_name);
    if (Result<void> made = os::create_folders(previous); !made) {
        return fail("cannot create " + previous + ": " + made.error().message);
    }

    // The new pack is written completely before anything in force is moved,
    // so a failed write leaves the knowledge as it was. Its temporary name
    // does not end in ".json", so a crash leaves nothing that would be loaded.
    const std::string incoming = os::join_path(folder, "incoming-pack-" + pack.version + ".tmp");
    if (Result<void> written = os::write_file_replace(incoming, text); !written) {
        (void)os::remove_file(incoming);
        return fail("cannot write the pack: " + written.error().message);
    }

    std::vector<std::string> moved;
    for (const std::string& name : pack_files_in(folder)) {
        if (Result<void> out = os::rename_replace(os::join_path(folder, name), os::join_path(previous, name)); !out) {
            for (const std::string& back : moved) {
                (void)os::rename_replace(os::join_path(previous, back), os::join_path(folder, back));
            }
            (void)os::remove_file(incoming);
            return fail("cannot write the pack: " + out.error().message);
        }
        moved.push_back(name);
    }
    const std::string target = os::join_path(folder, "pack-" + pack.version + ".json");
    if (Result<void> placed = os::rename_replace(incoming, target); !placed) {
        for (const std::string& back : moved) {
            (void)os::rename_replace(os::join_path(previous, back), os::join_path(folder, back));
        }
        (void)os::remove_file(incoming);
        return fail("cannot write the pack: " + placed.error().message);
    }
    drop_loaded();
    return pack;
}

Result<std::string> KnowledgeStore::rollback() {
    std::lock_guard files(files_lock_);
    const std::string folder = knowledge_folder();
    const std::string previous = os::join_path(folder, previous_name);
    const std::string retired = os::join_path(folder, retired_name);
    const std::vector<std::string> in_use = pack_files_in(folder);
    if (in_use.empty()) {
        return fail("There is no earlier knowledge to go back to; the built-in knowledge is already in use.");
    }
    const std::vector<std::string> earlier = pack_files_in(previous);

    if (Result<void> made = os::create_folders(retired); !made) {
        return fail("cannot create " + retired + ": " + made.error().message);
    }
    auto put_back_in_use = [&](const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            (void)os::rename_replace(os::join_path(retired, name), os::join_path(folder, name));
        }
    };
    std::vector<std::string> retired_now;
    for (const std::string& name : in_use) {
        if (Result<void> out = os::rename_replace(os::join_path(folder, name), os::join_path(retired, name)); !out) {
            put_back_in_use(retired_now);
            return fail("cannot take " + name + " out of use: " + out.error().message);
        }
        retired_now.push_back(name);
    }
    std::vector<std::string> restored;
    for (const std::string& name : earlier) {
        if (Result<void> back = os::rename_replace(os::join_path(previous, name), os::join_path(folder, name)); !back) {
            for (const std::string& undo : restored) {
                (void)os::rename_replace(os::join_path(folder, undo), os::join_path(previous, undo));
            }
            put_back_in_use(retired_now);
            return fail("cannot restore " + name + ": " + back.error().message);
        }
        restored.push_back(name);
    }
    drop_loaded();
    if (restored.empty()) return std::string("Went back to the built-in knowledge.");
    std::string newest = version_of_pack_file(restored.front());
    for (const std::string& name : restored) {
        if (compare_versions(version_of_pack_file(name), newest) > 0) newest = version_of_pack_file(name);
    }
    return "Went back to " + newest + ".";
}

void KnowledgeStore::automatic_check(bool demo) {
    if (demo) return;
    KnowledgeSettings settings = read_settings(knowledge_folder());
    if (settings.auto_check) (void)update(settings.url);
}

}  // namespace qm::knowledge
