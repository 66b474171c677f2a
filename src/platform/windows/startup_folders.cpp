#include "platform/windows/startup_folders.h"

namespace qm::win {

void scan_startup_folders(const std::vector<StartupFolderLocation>&, bool, ProgramFacts&, std::vector<StartupItem>&) {}

}  // namespace qm::win
