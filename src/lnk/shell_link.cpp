#include "lnk/shell_link.h"

namespace qm::lnk {

std::optional<ShellLink> read_shell_link(std::string_view) { return std::nullopt; }

}  // namespace qm::lnk
