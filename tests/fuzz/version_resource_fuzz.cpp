// libFuzzer target for the version-information reader: any bytes, read as a
// version block and as a program file, give strings or nothing; the program
// file is read in few, bounded reads; a block found is part of the input; and
// every string is valid UTF-8 no longer than its UTF-16 form allows. Seed it
// with real program files:
// build/fuzz/tests/fuzz/version_resource_fuzz corpus/ <folder of .exe and .dll files>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/version_resource.h"
#include "util/text.h"

namespace {

void check_string(const std::optional<std::string>& value, std::string_view block) {
    // Each UTF-16 unit (two bytes) becomes at most three bytes of UTF-8.
    if (value && (!qm::is_valid_utf8(*value) || value->size() > block.size() / 2 * 3)) __builtin_trap();
}

void check_block(std::string_view block) {
    for (const std::string& table : qm::formats::version_translations(block)) {
        if (table.size() != 8) __builtin_trap();
        for (const char* name : {"CompanyName", "FileDescription", "ProductName"}) {
            check_string(qm::formats::version_string(block, table, name), block);
        }
    }
    check_string(qm::formats::version_string(block, "040904b0", "CompanyName"), block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check_block(bytes);
    std::size_t reads = 0;
    const qm::formats::ReadAt read = [&](std::uint64_t offset, std::size_t length) {
        ++reads;
        if (length > 0x10000) __builtin_trap();
        if (offset >= bytes.size()) return std::string();
        return std::string(bytes.substr(static_cast<std::size_t>(offset), length));
    };
    const qm::formats::ProgramVersionBlock found = qm::formats::read_program_version_block(read);
    if (reads > 64) __builtin_trap();
    if (found.found == qm::formats::ProgramVersionBlock::Found::block) {
        if (found.block.size() > size || bytes.find(found.block) == std::string_view::npos) __builtin_trap();
        check_block(found.block);
    } else if (!found.block.empty()) {
        __builtin_trap();
    }
    return 0;
}
