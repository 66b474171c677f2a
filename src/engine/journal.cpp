#include "engine/journal.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <optional>

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

std::optional<JournalRecord> parse_record(std::string_view bytes) {
    std::string text;
    if (is_valid_utf8(bytes)) {
        text = bytes;
    } else {
        for (char c : bytes) append_utf8(text, static_cast<unsigned char>(c));
    }
    Result<json::JsonValue> parsed = json::parse(text);
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

std::vector<JournalRecord> parse_lines(std::string_view rest) {
    std::vector<JournalRecord> records;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (trim(line).empty()) continue;
        if (std::optional<JournalRecord> record = parse_line(line)) records.push_back(std::move(*record));
    }
    return records;
}

}  // namespace

std::uint64_t next_journal_seq() {
    std::int64_t millis = now_unix_millis();
    const std::uint64_t now = millis > 0 ? static_cast<std::uint64_t>(millis) : 0;
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
    return json::ObjectBuilder()
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
    return record;
}

Result<void> append_journal(const model::DataFolder& folder, JournalRecord record) {
    if (record.seq == 0) record.seq = next_journal_seq();
    if (record.time.empty()) record.time = time_text(now_unix_seconds());

    if (Result<void> made = os::create_folders(folder.write_folder); !made) {
        return fail("cannot create " + folder.write_folder + ": " + os::failure_reason(made.error().message));
    }
    const std::string path = os::join_path(folder.write_folder, journal_file_name);
    std::string line = json::write(journal_record_json(record));
    line.push_back('\n');
    // append_line starts the record on a line of its own even after a last
    // line that a crash or a full disk cut short.
    if (Result<void> written = os::append_line(path, line); !written) {
        return fail("cannot write " + path + ": " + os::failure_reason(written.error().message));
    }
    return {};
}

std::vector<JournalRecord> parse_journal_text(std::string_view bytes) {
    // A whole file in UTF-16 is read as such; otherwise each line is decoded
    // by itself below.
    if (bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE")) return parse_lines(decode_text(bytes));
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return parse_lines(bytes);
}

std::vector<JournalRecord> read_journal_file(const std::string& path, std::uint64_t max_bytes) {
    // One byte more than the limit tells whether the file is larger, and then
    // whether the kept part begins at the start of a line.
    Result<std::string> bytes = os::read_file_end(path, max_bytes + 1);
    if (!bytes) return {};
    if (bytes->size() <= max_bytes) return parse_journal_text(*bytes);
    const std::size_t end = bytes->find('\n');
    if (end == std::string::npos) return {};
    return parse_lines(std::string_view(*bytes).substr(end + 1));
}

std::vector<JournalRecord> read_journal(const model::DataFolder& folder) {
    std::vector<JournalRecord> records;
    for (const std::string& dir : folder.read_folders) {
        std::vector<JournalRecord> found = read_journal_file(os::join_path(dir, journal_file_name));
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
        entry.undoable = !entry.undone && it->ok && it->action && it->action != model::ChangeAction::undo;
        entry.record = *it;
        history.push_back(std::move(entry));
    }
    return history;
}

}  // namespace qm::engine
