// libFuzzer target for the JSON reader: any input gives a value or a message;
// an accepted value is written, read back equal, and written the same again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "json/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto first = qm::json::parse(text);
    if (!first) {
        if (first.error().message.empty()) __builtin_trap();
        return 0;
    }
    const std::string written = qm::json::write(*first);
    const auto second = qm::json::parse(written);
    if (!second || !(*second == *first)) __builtin_trap();
    if (qm::json::write(*second) != written) __builtin_trap();
    return 0;
}
