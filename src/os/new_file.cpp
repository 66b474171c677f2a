#include "os/new_file.h"

#include "os/files.h"
#include "os/random_hex.h"
#include "util/time_text.h"

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

bool is_own_temporary_name(std::string_view name) {
    std::string_view stem;
    if (name.ends_with(".tmp")) stem = name.substr(0, name.size() - 4);
    else if (name.ends_with(".partial")) stem = name.substr(0, name.size() - 8);
    else return false;
    // Twelve digits for a new file's temporary (write_file_new), sixteen for
    // a replacing write's (write_file_replace).
    for (const std::size_t digits : {std::size_t{12}, std::size_t{16}}) {
        if (stem.size() < digits + 2 || stem[stem.size() - digits - 1] != '.') continue;
        const std::string_view noise = stem.substr(stem.size() - digits);
        if (noise.find_first_not_of("0123456789abcdef") == std::string_view::npos) return true;
    }
    return false;
}

std::size_t remove_stale_temporaries(const std::string& folder, std::chrono::seconds min_age) {
    Result<std::vector<FolderEntry>> entries = list_folder(folder);
    if (!entries) return 0;
    const std::int64_t now = now_unix_seconds();
    std::size_t removed = 0;
    for (const FolderEntry& entry : *entries) {
        if (entry.is_folder || !is_own_temporary_name(entry.name)) continue;
        if (now - entry.modified_unix < min_age.count()) continue;
        if (remove_file(join_path(folder, entry.name))) ++removed;
    }
    return removed;
}

}  // namespace qm::os
