// libFuzzer target for the shell link reader: any input reads or is not a
// link; what it reads is valid UTF-8, no longer than the input allows, and the
// same on a second reading. Seed it with the real links:
// build/fuzz/tests/fuzz/shell_link_fuzz corpus/ tests/data/conformance/shell-links
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/shell_link.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto link = qm::formats::read_shell_link(bytes);
    if (!link) return 0;
    if (size < 76) __builtin_trap();
    for (const std::string* field : {&link->target, &link->arguments, &link->working_directory}) {
        if (!qm::is_valid_utf8(*field) || field->size() > 3 * size) __builtin_trap();
    }
    const auto again = qm::formats::read_shell_link(bytes);
    if (!again || again->target != link->target || again->arguments != link->arguments ||
        again->working_directory != link->working_directory) {
        __builtin_trap();
    }
    return 0;
}
