// libFuzzer target for journal files: any bytes give records, never a crash.
// Every text read is valid UTF-8; a line is read the same on its own as
// inside the file, so one damaged line cannot change another; and every
// record read is written and read back the same; intent and outcome lines
// never become records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/journal.h"
#include "json/json.h"
#include "util/text.h"

namespace {

std::vector<std::string> written(const std::vector<qm::engine::JournalRecord>& records) {
    std::vector<std::string> lines;
    for (const qm::engine::JournalRecord& record : records)
        lines.push_back(qm::json::write(qm::engine::journal_record_json(record)));
    return lines;
}

bool starts_with_mark(std::string_view bytes) {
    return bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<qm::engine::JournalRecord> records = qm::engine::parse_journal_text(bytes);
    const std::vector<std::string> lines = written(records);

    for (const qm::engine::JournalRecord& record : records) {
        for (const std::string* text :
             {&record.time, &record.unknown_action, &record.id, &record.name, &record.detail}) {
            if (!qm::is_valid_utf8(*text)) __builtin_trap();
        }
        for (const qm::model::SpecPair& pair : record.spec) {
            if (!qm::is_valid_utf8(pair.key) || !qm::is_valid_utf8(pair.value)) __builtin_trap();
        }
    }

    // The first line and the rest read apart give what the whole file gives.
    const std::size_t end = bytes.find('\n');
    if (end != std::string_view::npos && !starts_with_mark(bytes) && !starts_with_mark(bytes.substr(end + 1))) {
        std::vector<std::string> apart = written(qm::engine::parse_journal_text(bytes.substr(0, end)));
        const std::vector<std::string> rest = written(qm::engine::parse_journal_text(bytes.substr(end + 1)));
        apart.insert(apart.end(), rest.begin(), rest.end());
        if (apart != lines) __builtin_trap();
    }

    // Intents and outcomes are kept apart from the records: the records are
    // the same, no open intent has a record, and no number passes the highest.
    const qm::engine::JournalContents contents = qm::engine::parse_journal_contents(bytes);
    if (written(contents.records) != lines) __builtin_trap();
    for (const qm::engine::JournalRecord& record : records) {
        if (record.seq > contents.highest_seq) __builtin_trap();
    }
    for (const qm::engine::JournalIntent& intent : contents.open_intents) {
        if (intent.record.seq == 0 || intent.record.seq > contents.highest_seq) __builtin_trap();
        for (const qm::engine::JournalRecord& record : records) {
            if (record.seq == intent.record.seq) __builtin_trap();
        }
    }

    // Written as a journal and read again, the records are the same.
    std::string file;
    for (const std::string& line : lines) file += line + "\n";
    if (written(qm::engine::parse_journal_text(file)) != lines) __builtin_trap();
    return 0;
}
