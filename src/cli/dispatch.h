// Program entry and command dispatch: splits the arguments, decides help and
// version first, builds exactly one platform (the real computer or the
// demonstration) and hands over to one command. Returns the exit code:
// 0 done, 1 failed or found nothing, 2 usage error, 3 administrator rights
// needed, 4 confirmation needed.
#pragma once

#include <string>
#include <vector>

namespace qm::cli {

// Detaches from a console that only this process uses when there are no
// arguments (a double-click), then dispatches.
int process_entry(const std::vector<std::string>& arguments);

int dispatch(const std::vector<std::string>& arguments);

}  // namespace qm::cli
