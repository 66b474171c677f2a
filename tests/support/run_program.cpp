#include "support/run_program.h"

#include <gtest/gtest.h>

#include "os/environment.h"
#include "os/files.h"
#include "os/process.h"
#include "os/random_hex.h"

namespace qm::test {

namespace {

// The program's demonstration folders go to one temporary folder of this test
// run, which is removed when the tests end.
class DemoFolders : public ::testing::Environment {
public:
    const std::string& folder() {
        if (folder_.empty()) {
            folder_ = os::join_path(os::temp_folder(), "quillmoor-test-runs-" + os::random_hex(6).value_or("0"));
            (void)os::create_folders(folder_);
        }
        return folder_;
    }
    void TearDown() override {
        if (!folder_.empty()) (void)os::remove_tree(folder_);
    }

private:
    std::string folder_;
};

DemoFolders* const demo_folders = static_cast<DemoFolders*>(::testing::AddGlobalTestEnvironment(new DemoFolders));

}  // namespace

ProgramRun run_program(const std::vector<std::string>& arguments,
                       const std::vector<std::pair<std::string, std::string>>& environment) {
    return run_program_at(QM_PROGRAM_PATH, arguments, environment);
}

ProgramRun run_program_at(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::pair<std::string, std::string>>& environment) {
    os::ChildRequest request;
    request.program = program;
    request.arguments = arguments;
    const std::string& temporary = demo_folders->folder();
    request.extra_environment = {{"TMPDIR", temporary}, {"TMP", temporary}, {"TEMP", temporary}};
    request.extra_environment.insert(request.extra_environment.end(), environment.begin(), environment.end());
    request.time_limit = std::chrono::seconds(60);
    os::ChildBytes child = os::run_child(request);
    ProgramRun run;
    run.out = std::move(child.out);
    run.err = std::move(child.err);
    if (child.exit_code) run.exit_code = static_cast<int>(*child.exit_code);
    return run;
}

std::string make_scratch_folder(const std::string& purpose) {
    std::string path =
        os::join_path(os::temp_folder(), "quillmoor-test-" + purpose + "-" + os::random_hex(6).value_or("0"));
    (void)os::create_folders(path);
    return path;
}

}  // namespace qm::test
