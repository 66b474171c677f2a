// The sign-in records Windows keeps for each user (the StartupInfo files of
// the diagnostics folder, "<SID>_StartupInfo<N>.xml"): for each process
// started in the first minute and a half after a sign-in, its program, its
// command line, its processor time and what it read from disk. Pure text
// work on a decoded document (xml_text's decode_document): every text read
// is a piece of the document, and a number that is missing or not a whole
// number is left unknown rather than guessed. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::formats {

struct SignInProcess {
    std::string program;       // the Process element's Name: the program file as started
    std::string command_line;  // empty when not recorded
    std::optional<std::uint64_t> processor_us;
    std::optional<std::uint64_t> disk_bytes;
    std::string started;  // the Process element's StartTime, as written; may be empty
};

struct SignInRecord {
    std::string started;  // the StartupData element's StartTime, as written; may be empty
    std::vector<SignInProcess> processes;
};

// The record of one file. A document without a StartupData start tag gives no
// processes; in a file cut short, the processes it holds whole are read and
// one cut off is left out.
[[nodiscard]] SignInRecord read_sign_in_record(std::string_view document);

// What one program cost per sign-in, averaged over the sign-ins it ran in.
struct SignInCost {
    std::uint64_t processor_us = 0;
    std::uint64_t disk_bytes = 0;
    bool processor_known = false;  // at least one of its processes recorded it
    bool disk_known = false;
    std::uint32_t sign_ins = 0;  // how many of the records it appears in
    // When it was first started in the first record given (the newest),
    // counted from that sign-in's StartTime; where both times read.
    std::optional<std::uint64_t> started_ms;
};

// The cost of each program over the records given, keyed by `key` of the
// program's Name (the caller expands and normalises paths the way it does
// its items' program files, so that only an exact path matches). Several
// processes of one program in one sign-in add up.
[[nodiscard]] std::map<std::string, SignInCost> sign_in_costs(const std::vector<SignInRecord>& records,
                                                              const std::function<std::string(std::string_view)>& key);

// N of "<sid>_StartupInfo<N>.xml" (the name compared without regard to case,
// N a whole number of at most nine digits); nothing for any other name. A
// higher N is a later sign-in.
[[nodiscard]] std::optional<std::uint32_t> sign_in_record_number(std::string_view file_name, std::string_view sid);

// A whole decimal number of at most 19 digits, white space around it allowed.
[[nodiscard]] std::optional<std::uint64_t> whole_number(std::string_view text);

}  // namespace qm::formats
