// The program's version and the names it is published under. One place for
// all of them: `version`, `help`, the window server and backups read these.
#pragma once

#include <string_view>

#include "build_constants.h"

namespace qm::build {

inline constexpr std::string_view version = QM_VERSION_TEXT;
inline constexpr std::string_view developer = QM_DEVELOPER;
inline constexpr std::string_view company = QM_COMPANY;
inline constexpr std::string_view copyright = QM_COPYRIGHT;

}  // namespace qm::build
