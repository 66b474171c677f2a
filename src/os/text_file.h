// Stored text files read whole and decoded to UTF-8 (a byte-order mark
// selects UTF-16; see util/decode.h), optionally no further than a limit.
// Failures are the file system's sentence, which names the file once.
#pragma once

#include <cstdint>
#include <string>

#include "util/result.h"

namespace qm::os {

// The whole file, decoded.
[[nodiscard]] Result<std::string> read_text_file(const std::string& path);

// The same for a file that may hold at most `max_bytes` bytes; a larger one is
// not read past the limit and fails with "Could not read {path}: it is larger
// than {size}.", so that a stray huge file costs no more than the limit.
[[nodiscard]] Result<std::string> read_text_file(const std::string& path, std::uint64_t max_bytes);

}  // namespace qm::os
