#include "model/platform.h"

namespace qm::model {

using json::JsonValue;

namespace {

class WakeOnlyWatch final : public ChangeWatch {
public:
    explicit WakeOnlyWatch(std::shared_ptr<os::WakeSignal> wake) : wake_(std::move(wake)) {}
    [[nodiscard]] std::size_t places() const override { return 0; }
    [[nodiscard]] std::vector<std::string> notes() const override { return {}; }
    [[nodiscard]] WatchWake wait(std::optional<std::chrono::milliseconds> timeout) override {
        return wake_->wait(timeout) ? WatchWake::woken : WatchWake::timed_out;
    }

private:
    const std::shared_ptr<os::WakeSignal> wake_;
};

}  // namespace

std::unique_ptr<ChangeWatch> wake_only_watch(std::shared_ptr<os::WakeSignal> wake) {
    return std::make_unique<WakeOnlyWatch>(std::move(wake));
}

std::vector<StartMode> program_start_modes(bool system) {
    return {
        StartMode{"login", "Start when I sign in",
                  "Adds an entry for your account only. No administrator rights are needed. The "
                  "program opens its window as usual.",
                  false, !system},
        StartMode{"boot", "Start when the computer starts, before anyone signs in",
                  "Creates a scheduled task that runs as the system account at start-up. Needs "
                  "administrator rights. The program has no desktop, so this suits background "
                  "tools and servers, not programs with windows.",
                  true, false, true},
    };
}

StartMode service_auto_mode() {
    return StartMode{"service-auto", "Start automatically with Windows",
                     "Changes this service's start type from Manual to Automatic, so it "
                     "starts at boot with the others. Needs administrator rights.",
                     true, true};
}

Probe startup_cost_probe(const StartupCost& cost) {
    std::string detail = cost.measurable ? "" : "Not measurable here.";
    for (const std::string& source : cost.sources) detail += (detail.empty() ? "" : " ") + source;
    return Probe{"Startup cost", cost.measurable ? ProbeStatus::ok : ProbeStatus::warn, std::move(detail)};
}

std::string unsupported_kind_message(ItemKind kind) {
    return "Unsupported entry type \"" + std::string(word_text(kind)) + "\".";
}

JsonValue start_mode_json(const StartMode& mode) {
    return json::ObjectBuilder()
        .string("id", mode.id)
        .string("label", mode.label)
        .string("detail", mode.detail)
        .flag("needs_admin", mode.needs_admin)
        .flag("recommended", mode.recommended)
        .done();
}

JsonValue candidate_json(const Candidate& candidate) {
    JsonValue pids = JsonValue::array();
    for (std::uint32_t pid : candidate.pids) pids.as_array().emplace_back(static_cast<double>(pid));
    JsonValue modes = JsonValue::array();
    for (const StartMode& mode : candidate.modes) modes.as_array().push_back(start_mode_json(mode));

    return json::ObjectBuilder()
        .string("id", candidate.id)
        .string("name", candidate.name)
        .string("source", std::string(word_text(candidate.source)))
        .string("exe", candidate.exe)
        .string("command", candidate.command)
        .string("workdir", candidate.workdir)
        .string("user", candidate.user)
        .value("pids", std::move(pids))
        .string("publisher", candidate.publisher)
        .string("description", candidate.description)
        .value("modes", std::move(modes))
        .strings("notes", candidate.notes)
        .string("entry_id", candidate.entry_id)
        .flag("system", candidate.system)
        .done();
}

JsonValue probe_json(const Probe& probe) {
    return json::ObjectBuilder()
        .string("name", probe.name)
        .string("status", std::string(word_text(probe.status)))
        .string("detail", probe.detail)
        .done();
}

JsonValue system_facts_json(const SystemFacts& facts) {
    return json::ObjectBuilder()
        .string("os", facts.os)
        .string("os_version", facts.os_version)
        .string("host", facts.host)
        .string("user", facts.user)
        .string("home", facts.home)
        .flag("admin", facts.admin)
        .flag("demo", facts.demo)
        .done();
}

JsonValue create_details_json(const CreateDetails& details) {
    json::ObjectBuilder out;
    for (const auto& [key, field] : create_detail_fields) out.string(std::string(key), details.*field);
    return out.done();
}

CreateDetails create_details_from_json(const JsonValue& object) {
    CreateDetails details;
    for (const auto& [key, field] : create_detail_fields) details.*field = json::get_text(object, key);
    return details;
}

}  // namespace qm::model
