#include "os/new_file.h"

#include "os/files.h"
#include "os/random_hex.h"

namespace qm::os {

Result<bool> write_file_new(const std::string& path, std::string_view data) {
    std::optional<std::string> noise = random_hex(6);
    if (!noise) return fail("The system could not provide random numbers.");
    const std::string temporary = path + "." + *noise + ".partial";
    QM_TRY_VOID(write_file_replace(temporary, data));
    Result<bool> placed = rename_no_replace(temporary, path);
    if (!placed || !*placed) (void)remove_file(temporary);
    return placed;
}

}  // namespace qm::os
