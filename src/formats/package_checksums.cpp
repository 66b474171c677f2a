#include "formats/package_checksums.h"

#include "util/hex.h"
#include "util/text.h"

namespace qm::formats {

std::optional<std::string> recorded_md5(std::string_view list, std::string_view path) {
    if (!path.starts_with('/')) return std::nullopt;
    const std::string_view wanted = path.substr(1);
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find('\n', start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view line = list.substr(start, end - start);
        start = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.size() < 34 || line[32] != ' ' || (line[33] != ' ' && line[33] != '*')) continue;
        const std::string_view digest = line.substr(0, 32);
        bool hex = true;
        for (char c : digest) hex = hex && is_hex_digit(c);
        if (!hex || line.substr(34) != wanted) continue;
        return to_lower_ascii(digest);
    }
    return std::nullopt;
}

}  // namespace qm::formats
