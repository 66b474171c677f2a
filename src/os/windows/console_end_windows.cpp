// Console control events for the work to do when the program ends early.
// Windows runs a console control handler on a thread of its own, so the
// handler does the work itself and then ends the process with the exit code
// the system's own handler uses for Ctrl+C; an interrupt that an
// InterruptCatcher takes only wakes the program.
#include <windows.h>

#include "os/console.h"
#include "os/end_of_run.h"

namespace qm::os {

namespace {

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            if (end_of_run::catch_interrupt()) return TRUE;
            end_program_now(static_cast<int>(STATUS_CONTROL_C_EXIT));
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            end_program_now(static_cast<int>(STATUS_CONTROL_C_EXIT));
    }
    return FALSE;  // anything else goes on to the system's handler
}

}  // namespace

// Without the handler, interrupts keep the system's behaviour and the next task tries again.
bool end_of_run::start_watching() { return ::SetConsoleCtrlHandler(on_console_event, TRUE) != 0; }

}  // namespace qm::os
