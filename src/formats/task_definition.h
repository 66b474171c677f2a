// What a Task Scheduler task definition (the XML document Windows keeps for
// each scheduled task) says about starting with the computer: its sign-in and
// boot triggers, whether the task is switched on, the program it runs and the
// account it runs as. Reads any text without failing: what is missing or cut
// off reads as empty (or as the default). Pure and thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::formats {

struct TaskDefinition {
    bool logon_trigger = false;  // a LogonTrigger that is not switched off itself
    bool boot_trigger = false;   // a BootTrigger that is not switched off itself
    bool enabled = true;         // false only when Settings/Enabled says "false" (or "0")
    std::string command;         // of the first Exec action
    std::string arguments;
    std::string author;
    std::string user_id;      // of the first Principal
    std::string run_level;    // "HighestAvailable" means full rights
    std::string description;  // as written; see shown_description
    std::string uri;          // the task's path, as schtasks.exe /Query /XML writes it
    std::string source;       // RegistrationInfo/Source: kept by Windows, read by no one else
    std::string logon_delay;  // the Delay of the first live LogonTrigger ("PT2M"), as written
};

// Texts are trimmed with entities restored, as formats::element_text gives them.
[[nodiscard]] TaskDefinition read_task_definition(std::string_view document);

// The description as it can be shown: empty when it begins with "$" or "@",
// which mark a reference to a text kept in a program file (such as
// "$(@%SystemRoot%\system32\x.dll,-202)") rather than the text itself.
[[nodiscard]] std::string shown_description(std::string_view description);

// The seconds of an ISO 8601 duration of the form task documents use:
// "PT30S", "PT2M", "PT1M30S", "PT1H", with days ("P1DT2H") allowed; nothing
// for any other text, for a duration with years, months or fractions, or for
// one longer than 2^32 - 1 seconds.
[[nodiscard]] std::optional<std::uint32_t> duration_seconds(std::string_view text);

}  // namespace qm::formats
