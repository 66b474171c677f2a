#include "util/base64.h"

namespace qm {

std::string base64_encode(std::string_view) { return {}; }

}  // namespace qm
