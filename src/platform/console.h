// The console: arguments as UTF-8, writing to standard output and error, and
// leaving the console when the program was started by a double-click.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace qm::os {

// The process arguments without the program path, as UTF-8. On Windows they
// come from the wide command line, so names outside the code page survive.
[[nodiscard]] std::vector<std::string> program_arguments(int argc, char** argv);

// Writes UTF-8 text whole. On a Windows console the text is shown with its
// real characters; redirected output receives the UTF-8 bytes unchanged. The
// failure is one sentence with the system's reason; a stream that does not
// exist at all (no console, nothing redirected) takes the text silently.
[[nodiscard]] Result<void> write_stdout(std::string_view text);
[[nodiscard]] Result<void> write_stderr(std::string_view text);

// True when the stream is a terminal (a console window), where control
// characters in the text would be obeyed rather than shown.
[[nodiscard]] bool stdout_is_terminal();
[[nodiscard]] bool stderr_is_terminal();

// True when this process is the only one attached to its console window
// (it was started by a double-click). False where there is no such notion.
[[nodiscard]] bool is_sole_console_process();

// Leaves the console, so its window closes; does nothing where there is none.
void detach_console();

// The full path of the running program file.
[[nodiscard]] std::string own_program_path();

}  // namespace qm::os
