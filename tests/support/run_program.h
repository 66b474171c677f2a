// Runs the real quillmoor program as a child and collects what it printed.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm::test {

struct ProgramRun {
    std::string out;
    std::string err;
    int exit_code = -1;  // -1 when it did not start or was stopped
};

ProgramRun run_program(const std::vector<std::string>& arguments,
                       const std::vector<std::pair<std::string, std::string>>& environment = {});

// The same with a copy of the program elsewhere (for example beside stand-in
// system tools, which a program finds first in its own folder).
ProgramRun run_program_at(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::pair<std::string, std::string>>& environment = {});

// A new empty folder for one test, removed by the caller.
std::string make_scratch_folder(const std::string& purpose);

}  // namespace qm::test
