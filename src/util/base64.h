// Standard Base64 (RFC 4648, with "=" padding) of any bytes. Pure and
// thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace qm {

[[nodiscard]] std::string base64_encode(std::string_view bytes);

}  // namespace qm
