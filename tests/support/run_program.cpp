#include "support/run_program.h"

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"
#include "util/random_hex.h"

namespace qm::test {

ProgramRun run_program(const std::vector<std::string>& arguments,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    os::ChildRequest request;
    request.program = QM_PROGRAM_PATH;
    request.arguments = arguments;
    request.extra_environment = environment;
    request.time_limit = std::chrono::seconds(60);
    os::ChildBytes child = os::run_child(request);
    ProgramRun run;
    run.out = std::move(child.out);
    run.err = std::move(child.err);
    if (child.exit_code) run.exit_code = static_cast<int>(*child.exit_code);
    return run;
}

std::string make_scratch_folder(const std::string& purpose) {
    std::string path = os::join_path(os::temp_folder(),
                                     "quillmoor-test-" + purpose + "-" + random_hex(6).value_or("0"));
    (void)os::create_folders(path);
    return path;
}

}  // namespace qm::test
