#include "os/text_file.h"

#include "os/files.h"
#include "util/decode.h"

namespace qm::os {

Result<std::string> read_text_file(const std::string& path) {
    std::string bytes = QM_TRY(os::read_file(path));
    return decode_text(bytes);
}

Result<std::string> read_text_file(const std::string& path, std::uint64_t max_bytes) {
    std::string bytes = QM_TRY(os::read_file(path, max_bytes));
    if (bytes.size() > max_bytes) {
        return fail("Could not read " + path + ": it is larger than " + size_text(max_bytes) + ".");
    }
    return decode_text(bytes);
}

}  // namespace qm::os
