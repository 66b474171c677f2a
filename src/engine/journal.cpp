#include "engine/journal.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <optional>
#include <unordered_set>

#include "os/files.h"
#include "engine/journal_query.h"
#include "util/decode.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::engine {

namespace {

// The last sequence number given in this process.
std::atomic<std::uint64_t> last_journal_seq{0};

// Every record starts with this; a line that an earlier version wrote onto a
// torn fragment holds a whole record from its last occurrence on.
constexpr std::string_view record_start = "{\"seq\":";

std::string as_utf8(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    std::string text;
    for (char c : bytes) append_utf8(text, static_cast<unsigned char>(c));
    return text;
}

std::optional<JournalRecord> parse_record(std::string_view bytes) {
    Result<json::JsonValue> parsed = json::parse(as_utf8(bytes));
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return journal_record_from_json(*parsed);
}

std::optional<JournalRecord> parse_line(std::string_view line) {
    if (std::optional<JournalRecord> record = parse_record(line)) return record;
    // Quotes inside strings are escaped, so this can only be where a record
    // begins; the fragment before it is left behind.
    const std::size_t start = line.rfind(record_start);
    if (start == 0 || start == std::string_view::npos) return std::nullopt;
    return parse_record(line.substr(start));
}

json::JsonValue intent_json(const JournalIntent& intent) {
    const JournalRecord& r = intent.record;
    json::ObjectBuilder spec;
    for (const model::SpecPair& pair : r.spec) spec.string(pair.key, pair.value);
    json::JsonValue body = json::ObjectBuilder()
                               .count("n", r.seq)
                               .string("time", r.time)
                               .string("action", r.action ? std::string(model::word_text(*r.action)) : r.unknown_action)
                               .string("id", r.id)
                               .string("name", r.name)
                               .count("of", r.of)
                               .value("spec", spec.done())
                               .flag("stop_now", r.stop_now)
                               .string("undone_id", intent.undone_id)
                               .string("undone_name", intent.undone_name)
                               .done();
    if (!r.startup_before.empty())
        body = json::ObjectBuilder(std::move(body))
                   .value("startup_before", model::start_figures_json(r.startup_before))
                   .done();
    json::JsonValue line = json::JsonValue::array();
    line.as_array().push_back(json::JsonValue(std::string("intent")));
    line.as_array().push_back(std::move(body));
    return line;
}

// A mark line: ["intent",{...}] or ["outcome",{...}]; its word and object.
std::optional<std::pair<std::string, json::JsonValue>> parse_mark(std::string_view line) {
    if (!line.starts_with("[")) return std::nullopt;
    Result<json::JsonValue> parsed = json::parse(as_utf8(line));
    if (!parsed || !parsed->is_array() || parsed->as_array().size() != 2) return std::nullopt;
    const json::JsonValue& word = parsed->as_array()[0];
    const json::JsonValue& body = parsed->as_array()[1];
    if (!word.is_string() || !body.is_object() || json::get_count(body, "n") == 0) return std::nullopt;
    return std::pair{word.as_string(), body};
}

JournalContents parse_lines(std::string_view rest) {
    JournalContents contents;
    std::vector<JournalIntent> intents;
    std::unordered_set<std::uint64_t> closed;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (trim(line).empty()) continue;
        if (std::optional<std::pair<std::string, json::JsonValue>> mark = parse_mark(line)) {
            const std::uint64_t n = json::get_count(mark->second, "n");
            contents.highest_seq = std::max(contents.highest_seq, n);
            if (mark->first == "outcome") closed.insert(n);
            if (mark->first != "intent") continue;  // a mark of a newer version
            JournalIntent intent;
            intent.record = journal_record_from_json(mark->second);
            intent.record.seq = n;
            intent.undone_id = json::get_text(mark->second, "undone_id");
            intent.undone_name = json::get_text(mark->second, "undone_name");
            intents.push_back(std::move(intent));
            continue;
        }
        if (std::optional<JournalRecord> record = parse_line(line)) {
            contents.highest_seq = std::max(contents.highest_seq, record->seq);
            closed.insert(record->seq);
            contents.records.push_back(std::move(*record));
        }
    }
    for (JournalIntent& intent : intents) {
        if (closed.insert(intent.record.seq).second) contents.open_intents.push_back(std::move(intent));
    }
    return contents;
}

}  // namespace

std::uint64_t next_journal_seq(std::uint64_t at_least) {
    std::int64_t millis = now_unix_millis();
    const std::uint64_t now = std::max(millis > 0 ? static_cast<std::uint64_t>(millis) : 0, at_least);
    std::uint64_t last = last_journal_seq.load();
    std::uint64_t next = 0;
    do {
        next = now > last ? now : last + 1;
    } while (!last_journal_seq.compare_exchange_weak(last, next));
    return next;
}

json::JsonValue journal_record_json(const JournalRecord& record) {
    json::ObjectBuilder spec;
    for (const model::SpecPair& pair : record.spec) spec.string(pair.key, pair.value);
    json::JsonValue object =
        json::ObjectBuilder()
            .count("seq", record.seq)
            .string("time", record.time)
            .string("action", record.action ? std::string(model::word_text(*record.action)) : record.unknown_action)
            .string("id", record.id)
            .string("name", record.name)
            .string("detail", record.detail)
            .flag("ok", record.ok)
            .count("of", record.of)
            .value("spec", spec.done())
            .flag("stop_now", record.stop_now)
            .done();
    // Only where they hold something, so that every other record keeps its old form.
    if (!record.interrupted && record.startup_before.empty()) return object;
    json::ObjectBuilder more(std::move(object));
    if (record.interrupted) more.flag("interrupted", true);
    if (!record.startup_before.empty()) more.value("startup_before", model::start_figures_json(record.startup_before));
    return more.done();
}

JournalRecord journal_record_from_json(const json::JsonValue& object) {
    JournalRecord record;
    const std::string action = json::get_text(object, "action");
    record.action = model::read_change_action(action);
    if (!record.action) record.unknown_action = action;
    record.seq = json::get_count(object, "seq");
    record.time = json::get_text(object, "time");
    record.id = json::get_text(object, "id");
    record.name = json::get_text(object, "name");
    record.detail = json::get_text(object, "detail");
    record.ok = json::get_flag(object, "ok");
    record.of = json::get_count(object, "of");
    if (const json::JsonValue* spec = json::get(object, "spec"); spec != nullptr && spec->is_object()) {
        for (const auto& [key, value] : spec->as_object()) {
            record.spec.push_back(model::SpecPair{key, value.is_string() ? value.as_string() : std::string()});
        }
    }
    record.stop_now = json::get_flag(object, "stop_now");
    record.interrupted = json::get_flag(object, "interrupted");
    if (const json::JsonValue* figures = json::get(object, "startup_before"); figures != nullptr)
        record.startup_before = model::start_figures_from_json(*figures);
    return record;
}

namespace {

Result<void> append_journal_line(const model::DataFolder& folder, std::string line) {
    if (Result<void> made = os::create_folders(folder.write_folder); !made) {
        return fail("cannot create " + folder.write_folder + ": " + os::failure_reason(made.error().message));
    }
    const std::string path = os::join_path(folder.write_folder, journal_file_name);
    line.push_back('\n');
    // append_line starts the record on a line of its own even after a last
    // line that a crash or a full disk cut short.
    if (Result<void> written = os::append_line(path, line); !written) {
        return fail("cannot write " + path + ": " + os::failure_reason(written.error().message));
    }
    return {};
}

}  // namespace

Result<void> append_journal(const model::DataFolder& folder, JournalRecord record) {
    if (record.seq == 0) record.seq = next_journal_seq();
    if (record.time.empty()) record.time = time_text(now_unix_seconds());
    return append_journal_line(folder, json::write(journal_record_json(record)));
}

Result<void> append_intent(const model::DataFolder& folder, JournalIntent& intent) {
    if (intent.record.seq == 0) intent.record.seq = next_journal_seq();
    if (intent.record.time.empty()) intent.record.time = time_text(now_unix_seconds());
    return append_journal_line(folder, json::write(intent_json(intent)));
}

Result<void> append_failed_outcome(const model::DataFolder& folder, std::uint64_t seq) {
    json::JsonValue line = json::JsonValue::array();
    line.as_array().push_back(json::JsonValue(std::string("outcome")));
    line.as_array().push_back(json::ObjectBuilder().count("n", seq).done());
    return append_journal_line(folder, json::write(line));
}

JournalContents parse_journal_contents(std::string_view bytes) {
    // A whole file in UTF-16 is read as such; otherwise each line is decoded
    // by itself below.
    if (bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE")) return parse_lines(decode_text(bytes));
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return parse_lines(bytes);
}

std::vector<JournalRecord> parse_journal_text(std::string_view bytes) { return parse_journal_contents(bytes).records; }

JournalContents read_journal_contents(const std::string& path, std::uint64_t max_bytes) {
    // One byte more than the limit tells whether the file is larger, and then
    // whether the kept part begins at the start of a line.
    Result<std::string> bytes = os::read_file_end(path, max_bytes + 1);
    if (!bytes) return {};
    if (bytes->size() <= max_bytes) return parse_journal_contents(*bytes);
    const std::size_t end = bytes->find('\n');
    if (end == std::string::npos) return {};
    return parse_lines(std::string_view(*bytes).substr(end + 1));
}

std::vector<JournalRecord> read_journal_file(const std::string& path, std::uint64_t max_bytes) {
    return read_journal_contents(path, max_bytes).records;
}

std::vector<JournalRecord> read_journal(const model::DataFolder& folder) {
    std::vector<JournalRecord> records;
    for (const std::string& dir : folder.read_folders) {
        std::vector<JournalRecord> found = read_journal_file(os::join_path(dir, journal_file_name));
        for (JournalRecord& record : found) record.own = dir == folder.write_folder;
        records.insert(records.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const JournalRecord& a, const JournalRecord& b) { return a.seq < b.seq; });
    auto last = std::unique(records.begin(), records.end(),
                            [](const JournalRecord& a, const JournalRecord& b) { return a.seq == b.seq; });
    records.erase(last, records.end());
    return records;
}

std::vector<HistoryEntry> journal_history(const model::DataFolder& folder) {
    const JournalQuery journal(folder);
    const std::vector<JournalRecord>& records = journal.records();
    std::vector<HistoryEntry> history;
    history.reserve(records.size());
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        HistoryEntry entry;
        entry.undone = journal.undone(it->seq);
        entry.undoable = it->own && !entry.undone && it->ok && it->action && it->action != model::ChangeAction::undo &&
                         it->action != model::ChangeAction::observed;
        entry.record = *it;
        history.push_back(std::move(entry));
    }
    return history;
}

}  // namespace qm::engine
