// What a Task Scheduler task definition (the XML document Windows keeps for
// each scheduled task) says about starting with the computer: its sign-in and
// boot triggers, whether the task is switched on, the program it runs and the
// account it runs as. Reads any text without failing: what is missing or cut
// off reads as empty (or as the default). Pure and thread-safe.
#pragma once

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
};

// Texts are trimmed with entities restored, as formats::element_text gives them.
[[nodiscard]] TaskDefinition read_task_definition(std::string_view document);

// The description as it can be shown: empty when it begins with "$" or "@",
// which mark a reference to a text kept in a program file (such as
// "$(@%SystemRoot%\system32\x.dll,-202)") rather than the text itself.
[[nodiscard]] std::string shown_description(std::string_view description);

}  // namespace qm::formats
