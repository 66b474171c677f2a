#include "cli/dispatch.h"

namespace qm::cli {
int process_entry(const std::vector<std::string>& arguments) { return dispatch(arguments); }
int dispatch(const std::vector<std::string>&) { return 0; }
}  // namespace qm::cli
