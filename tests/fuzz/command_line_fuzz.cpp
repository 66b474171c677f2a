// libFuzzer target for splitting command lines and finding the program file
// in one, as both systems write them: any text gives words, never a crash;
// the program found is never longer than the text it was found in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (bool shell : {false, true}) {
        std::size_t total = 0;
        for (const std::string& word : qm::split_command_line(text, shell)) total += word.size();
        if (total > text.size()) std::abort();
    }
    const std::string program = qm::program_of_command_line(text);
    if (program.size() > text.size()) std::abort();
    return 0;
}
