// libFuzzer target for desktop entry and systemd unit files: any text gives
// values, never a crash; a key set in a desktop file reads back as set and
// leaves every other key of its group as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/desktop_file.h"
#include "formats/unit_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qm::formats::UnitFile unit = qm::formats::parse_unit_file(text);
    (void)unit.installable();

    qm::formats::DesktopFile file(text);
    const std::string name = file.get("Name");
    const std::string exec = file.get("Exec");
    (void)qm::formats::desktop_exec_command(exec);
    (void)file.flag("Hidden");
    file.set("Hidden", "true");
    const qm::formats::DesktopFile reread(file.text());
    if (reread.get("Hidden") != "true" || !reread.flag("Hidden")) std::abort();
    if (reread.get("Name") != name || reread.get("Exec") != exec) std::abort();
    return 0;
}
