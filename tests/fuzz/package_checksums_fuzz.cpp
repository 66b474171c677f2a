// libFuzzer target for package checksum lists: any text gives a checksum or
// none, never a crash; a checksum found is 32 lower-case hexadecimal digits,
// and a line appended for a new path is found with its own checksum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/package_checksums.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The first line is the path asked, the rest the list.
    const std::size_t end = text.find('\n');
    const std::string path = "/" + std::string(text.substr(0, end));
    const std::string_view list = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (const std::optional<std::string> found = qm::formats::recorded_md5(list, path)) {
        if (found->size() != 32 || found->find_first_not_of("0123456789abcdef") != std::string::npos) std::abort();
    }
    if (list.find("qm-fuzz-added") != std::string_view::npos) return 0;
    const std::string added = std::string(list) + "\nabcdefabcdefabcdefabcdefabcdef12  qm-fuzz-added\n";
    if (qm::formats::recorded_md5(added, "/qm-fuzz-added") != "abcdefabcdefabcdefabcdefabcdef12") std::abort();
    return 0;
}
