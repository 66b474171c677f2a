// Process entry: hands the UTF-8 arguments to the dispatcher and ends the
// process with its exit code.
#include "cli/dispatch.h"
#include "os/console.h"

#ifdef _WIN32
int wmain(int, wchar_t**) { return qm::cli::process_entry(qm::os::program_arguments(0, nullptr)); }
#else
int main(int argc, char** argv) { return qm::cli::process_entry(qm::os::program_arguments(argc, argv)); }
#endif
