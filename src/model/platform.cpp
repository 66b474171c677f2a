#include "model/platform.h"

namespace qm {

using json::JsonValue;

std::string unsupported_kind_message(std::string_view kind) {
    return "Unsupported entry type \"" + std::string(kind) + "\".";
}

JsonValue start_mode_json(const StartMode& mode) {
    JsonValue out = JsonValue::object();
    out = json::add_string(std::move(out), "id", mode.id);
    out = json::add_string(std::move(out), "label", mode.label);
    out = json::add_string(std::move(out), "detail", mode.detail);
    out = json::add_bool(std::move(out), "needs_admin", mode.needs_admin);
    out = json::add_bool(std::move(out), "recommended", mode.recommended);
    return out;
}

JsonValue candidate_json(const Candidate& candidate) {
    JsonValue pids = JsonValue::array();
    for (std::uint32_t pid : candidate.pids) pids.as_array().emplace_back(static_cast<double>(pid));
    JsonValue modes = JsonValue::array();
    for (const StartMode& mode : candidate.modes) modes.as_array().push_back(start_mode_json(mode));

    JsonValue out = JsonValue::object();
    out = json::add_string(std::move(out), "id", candidate.id);
    out = json::add_string(std::move(out), "name", candidate.name);
    out = json::add_string(std::move(out), "source", candidate.source);
    out = json::add_string(std::move(out), "exe", candidate.exe);
    out = json::add_string(std::move(out), "command", candidate.command);
    out = json::add_string(std::move(out), "workdir", candidate.workdir);
    out = json::add_string(std::move(out), "user", candidate.user);
    out = json::add_value(std::move(out), "pids", std::move(pids));
    out = json::add_string(std::move(out), "publisher", candidate.publisher);
    out = json::add_string(std::move(out), "description", candidate.description);
    out = json::add_value(std::move(out), "modes", std::move(modes));
    out = json::add_strings(std::move(out), "notes", candidate.notes);
    out = json::add_string(std::move(out), "entry_id", candidate.entry_id);
    out = json::add_bool(std::move(out), "system", candidate.system);
    return out;
}

JsonValue probe_json(const Probe& probe) {
    JsonValue out = JsonValue::object();
    out = json::add_string(std::move(out), "name", probe.name);
    out = json::add_string(std::move(out), "status", probe.status);
    out = json::add_string(std::move(out), "detail", probe.detail);
    return out;
}

JsonValue system_facts_json(const SystemFacts& facts) {
    JsonValue out = JsonValue::object();
    out = json::add_string(std::move(out), "os", facts.os);
    out = json::add_string(std::move(out), "os_version", facts.os_version);
    out = json::add_string(std::move(out), "host", facts.host);
    out = json::add_string(std::move(out), "user", facts.user);
    out = json::add_string(std::move(out), "home", facts.home);
    out = json::add_bool(std::move(out), "admin", facts.admin);
    out = json::add_bool(std::move(out), "demo", facts.demo);
    return out;
}

JsonValue create_details_json(const CreateDetails& details) {
    JsonValue out = JsonValue::object();
    out = json::add_string(std::move(out), "name", details.name);
    out = json::add_string(std::move(out), "command", details.command);
    out = json::add_string(std::move(out), "exe", details.exe);
    out = json::add_string(std::move(out), "workdir", details.workdir);
    out = json::add_string(std::move(out), "mode", details.mode);
    out = json::add_string(std::move(out), "user", details.user);
    out = json::add_string(std::move(out), "description", details.description);
    return out;
}

CreateDetails create_details_from_json(const JsonValue& object) {
    CreateDetails details;
    details.name = json::get_text(object, "name");
    details.command = json::get_text(object, "command");
    details.exe = json::get_text(object, "exe");
    details.workdir = json::get_text(object, "workdir");
    details.mode = json::get_text(object, "mode");
    details.user = json::get_text(object, "user");
    details.description = json::get_text(object, "description");
    return details;
}

}  // namespace qm
