// The console: arguments as UTF-8, writing to standard output and error,
// leaving the console when the program was started by a double-click, and the
// work that must still be done when the user interrupts the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/wake_signal.h"
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

// Makes a write past the file-size limit (ulimit -f) fail with an error the
// program reports, instead of ending the process by SIGXFSZ in the middle of
// a change. Called once at the start; does nothing where there is no such
// signal.
void ignore_file_size_signal();

// The full path of the running program file.
[[nodiscard]] std::string own_program_path();

// Work that must be done however the program ends short of being killed: when
// the holder is destroyed, when the user interrupts the program (Ctrl+C or
// SIGTERM; on Windows Ctrl+C, Ctrl+Break or closing the console window), or
// when end_program_now is called. The work runs at most once, and an early end
// waits for work that is already running. The first task installs the
// interrupt handling; until then interrupts keep the system's behaviour, and
// an interrupt with no work pending ends the program as the system would.
// Thread-safe; the work must not itself end the program.
class EndOfRunTask {
public:
    explicit EndOfRunTask(std::function<void()> work);
    ~EndOfRunTask();  // does the work now unless an early end already did it
    EndOfRunTask(const EndOfRunTask&) = delete;
    EndOfRunTask& operator=(const EndOfRunTask&) = delete;

private:
    std::uint64_t id_ = 0;  // 0: nothing was registered
};

// For a command that waits until the user interrupts it and then ends in
// order: while a catcher lives, the first interrupt (Ctrl+C or SIGTERM; on
// Windows Ctrl+C or Ctrl+Break) does not end the program but raises `wake`
// and is remembered; another one after it ends the program as usual, so a
// program stuck on its way out can still be stopped. Closing the console
// window, signing out and shutting down are never caught. One catcher at a
// time; a second one made while the first lives catches nothing.
class InterruptCatcher {
public:
    explicit InterruptCatcher(std::shared_ptr<WakeSignal> wake);
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // Whether interrupts are caught at all (the system's interrupt handling
    // could be installed).
    [[nodiscard]] bool catching() const { return catching_; }
    [[nodiscard]] bool caught() const;

private:
    bool catching_ = false;
};

// Does every pending EndOfRunTask's work, then ends the process with
// `exit_code` without running static destructors, for a program whose other
// threads may still be at work.
[[noreturn]] void end_program_now(int exit_code);

}  // namespace qm::os
