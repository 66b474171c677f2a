#include "model/words.h"

#include <array>
#include <utility>

namespace qm::model {

namespace {

template <class Word, std::size_t N>
using WordTable = std::array<std::pair<Word, std::string_view>, N>;

constexpr WordTable<ItemKind, 9> item_kinds{{
    {ItemKind::run, "run"},
    {ItemKind::folder, "folder"},
    {ItemKind::service, "service"},
    {ItemKind::task, "task"},
    {ItemKind::systemd, "systemd"},
    {ItemKind::systemd_user, "systemd-user"},
    {ItemKind::launchd, "launchd"},
    {ItemKind::cron, "cron"},
    {ItemKind::autostart, "autostart"},
}};
constexpr WordTable<Scope, 2> scopes{{{Scope::machine, "machine"}, {Scope::user, "user"}}};
constexpr WordTable<Toggle, 3> toggles{{{Toggle::ok, "ok"}, {Toggle::admin, "admin"}, {Toggle::locked, "locked"}}};
constexpr WordTable<Origin, 5> origins{{
    {Origin::none, ""},
    {Origin::operating_system, "Operating system"},
    {Origin::installed_program, "Installed program"},
    {Origin::own_entry, "Created by Quillmoor"},
    {Origin::added_for_this_account, "Added for this account"},
}};
constexpr WordTable<Confidence, 3> confidences{
    {{Confidence::low, "low"}, {Confidence::medium, "medium"}, {Confidence::high, "high"}}};
constexpr WordTable<ProbeStatus, 3> probe_statuses{
    {{ProbeStatus::ok, "ok"}, {ProbeStatus::warn, "warn"}, {ProbeStatus::fail, "fail"}}};
constexpr WordTable<CandidateSource, 3> candidate_sources{
    {{CandidateSource::process, "process"}, {CandidateSource::service, "service"}, {CandidateSource::app, "app"}}};
constexpr WordTable<ChangeAction, 9> change_actions{{
    {ChangeAction::enable, "enable"},
    {ChangeAction::disable, "disable"},
    {ChangeAction::create, "create"},
    {ChangeAction::remove, "remove"},
    {ChangeAction::undo, "undo"},
    {ChangeAction::later, "later"},
    {ChangeAction::when_needed, "manual"},
    {ChangeAction::on_time, "on-time"},
    {ChangeAction::observed, "observed"},
}};
constexpr WordTable<ItemChange, 5> item_changes{{
    {ItemChange::none, ""},
    {ItemChange::added, "new"},
    {ItemChange::came_back, "came back"},
    {ItemChange::command_changed, "command changed"},
    {ItemChange::gone, "gone"},
}};
constexpr WordTable<ImpactLevel, 4> impact_levels{{
    {ImpactLevel::high, "high"},
    {ImpactLevel::medium, "medium"},
    {ImpactLevel::low, "low"},
    {ImpactLevel::not_measured, "not measured"},
}};
constexpr WordTable<MeasuredBy, 4> measured_by{{
    {MeasuredBy::nothing, ""},
    {MeasuredBy::sign_in_records, "sign-in records"},
    {MeasuredBy::boot_log, "boot log"},
    {MeasuredBy::systemd, "systemd"},
}};

template <class Word, std::size_t N>
std::string_view text_in(const WordTable<Word, N>& table, Word word) {
    for (const auto& [value, text] : table) {
        if (value == word) return text;
    }
    return {};
}

template <class Word, std::size_t N>
std::optional<Word> read_in(const WordTable<Word, N>& table, std::string_view text) {
    for (const auto& [value, word] : table) {
        if (word == text) return value;
    }
    return std::nullopt;
}

}  // namespace

std::string_view word_text(ItemKind kind) { return text_in(item_kinds, kind); }
std::string_view word_text(ItemChange change) { return text_in(item_changes, change); }
std::optional<ItemChange> read_item_change(std::string_view text) { return read_in(item_changes, text); }
std::string_view word_text(Scope scope) { return text_in(scopes, scope); }
std::string_view word_text(Toggle toggle) { return text_in(toggles, toggle); }
std::string_view word_text(Origin origin) { return text_in(origins, origin); }
std::string_view word_text(Confidence confidence) { return text_in(confidences, confidence); }
std::string_view word_text(ProbeStatus status) { return text_in(probe_statuses, status); }
std::string_view word_text(CandidateSource source) { return text_in(candidate_sources, source); }
std::string_view word_text(ChangeAction action) { return text_in(change_actions, action); }
std::string_view word_text(ImpactLevel level) { return text_in(impact_levels, level); }
std::string_view word_text(MeasuredBy source) { return text_in(measured_by, source); }

std::optional<ItemKind> read_item_kind(std::string_view text) { return read_in(item_kinds, text); }
std::optional<Scope> read_scope(std::string_view text) { return read_in(scopes, text); }
std::optional<ChangeAction> read_change_action(std::string_view text) { return read_in(change_actions, text); }

bool is_service_kind(ItemKind kind) {
    switch (kind) {
        case ItemKind::service:
        case ItemKind::systemd:
        case ItemKind::systemd_user:
        case ItemKind::launchd:
            return true;
        case ItemKind::run:
        case ItemKind::folder:
        case ItemKind::task:
        case ItemKind::cron:
        case ItemKind::autostart:
            return false;
    }
    return false;
}

bool starts_at_sign_in(ItemKind kind) {
    switch (kind) {
        case ItemKind::run:
        case ItemKind::folder:
        case ItemKind::autostart:
            return true;
        case ItemKind::service:
        case ItemKind::task:
        case ItemKind::systemd:
        case ItemKind::systemd_user:
        case ItemKind::launchd:
        case ItemKind::cron:
            return false;
    }
    return false;
}

bool anyone_can_add(ItemKind kind) {
    switch (kind) {
        case ItemKind::run:
        case ItemKind::folder:
        case ItemKind::autostart:
        case ItemKind::cron:
        case ItemKind::task:
            return true;
        case ItemKind::service:
        case ItemKind::systemd:
        case ItemKind::systemd_user:
        case ItemKind::launchd:
            return false;
    }
    return false;
}

bool starts_at_boot_for_machine(ItemKind kind) {
    switch (kind) {
        case ItemKind::service:
        case ItemKind::systemd:
        case ItemKind::task:
            return true;
        case ItemKind::run:
        case ItemKind::folder:
        case ItemKind::systemd_user:
        case ItemKind::launchd:
        case ItemKind::cron:
        case ItemKind::autostart:
            return false;
    }
    return false;
}

std::ostream& operator<<(std::ostream& out, ItemKind kind) { return out << word_text(kind); }
std::ostream& operator<<(std::ostream& out, Scope scope) { return out << word_text(scope); }
std::ostream& operator<<(std::ostream& out, Toggle toggle) { return out << word_text(toggle); }
std::ostream& operator<<(std::ostream& out, Origin origin) { return out << word_text(origin); }
std::ostream& operator<<(std::ostream& out, Confidence confidence) { return out << word_text(confidence); }
std::ostream& operator<<(std::ostream& out, ProbeStatus status) { return out << word_text(status); }
std::ostream& operator<<(std::ostream& out, CandidateSource source) { return out << word_text(source); }
std::ostream& operator<<(std::ostream& out, ChangeAction action) { return out << word_text(action); }

}  // namespace qm::model
