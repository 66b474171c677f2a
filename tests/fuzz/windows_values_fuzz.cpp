// libFuzzer target for what the Windows platform makes of registry data and
// command lines, on any system: registry text decodes to valid UTF-8 of
// bounded size; expanding with no variables known gives the text back, and
// with every variable known never fails; an approval flag's bytes read back
// as written; the program found in a command line comes from the line (plus
// ".exe") after a bounded number of probes, whichever files exist; a task's
// DynamicInfo gives a time only at the sizes Windows writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "formats/windows_values.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string decoded = qm::formats::decode_registry_text(bytes);
    if (!qm::is_valid_utf8(decoded) || decoded.size() > size / 2 * 3) std::abort();

    const auto unknown = [](std::string_view) { return std::optional<std::string>(); };
    if (qm::formats::expand_references(bytes, unknown) != bytes) std::abort();
    const auto known = [](std::string_view name) { return std::optional<std::string>("<" + std::string(name) + ">"); };
    (void)qm::formats::expand_references(bytes, known);

    std::int64_t seconds = 0;
    std::memcpy(&seconds, data, std::min(size, sizeof seconds));
    for (bool on : {true, false}) {
        const std::string flag = qm::formats::approval_bytes(on, seconds);
        const auto expected = on ? qm::formats::ApprovalFlag::on : qm::formats::ApprovalFlag::off;
        if (flag.size() != 12 || qm::formats::approval_flag_of_bytes(flag) != expected) std::abort();
    }
    if ((qm::formats::approval_flag_of_bytes(bytes) == qm::formats::ApprovalFlag::none) != bytes.empty()) std::abort();
    if (qm::formats::task_last_run(bytes) < 0 || (size != 28 && size != 36 && qm::formats::task_last_run(bytes) != 0))
        std::abort();

    // The first byte chooses which path lengths name files, so the finder
    // meets files at every run of words and at none.
    const unsigned choice = size > 0 ? data[0] : 0;
    const std::string_view command = size > 0 ? bytes.substr(1) : bytes;
    std::size_t probes = 0;
    const auto is_file = [&](const std::string& path) {
        ++probes;
        return ((path.size() * 7 + choice) & 3) == 0;
    };
    const qm::formats::CommandProgram found = qm::formats::command_program(command, is_file);
    if (probes > 2 * 33 || found.program.size() > command.size() + 4) std::abort();
    const std::string trimmed = qm::trim(command);
    if (!trimmed.empty() && trimmed.front() != '"') {
        const std::string_view program = found.program;
        const bool run = trimmed.starts_with(program);
        const bool run_with_exe =
            program.ends_with(".exe") && trimmed.starts_with(program.substr(0, program.size() - 4));
        if (!run && !run_with_exe) std::abort();
    }
    return 0;
}
