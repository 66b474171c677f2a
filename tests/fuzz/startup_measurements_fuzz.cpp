// libFuzzer target for the readers of what the systems record about a start:
// Windows' sign-in records (any bytes, decoded as the files are), boot-
// performance events, and `systemctl show` output of units and of the
// manager, and the times they are stamped with. Any bytes give records or nothing, never a crash; every text read
// is no longer than the document it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/boot_events.h"
#include "formats/sign_in_records.h"
#include "formats/unit_timings.h"
#include "formats/xml_text.h"
#include "util/time_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: {
            const std::string document = qm::formats::decode_document(bytes);
            const qm::formats::SignInRecord record = qm::formats::read_sign_in_record(document);
            if (record.started.size() > document.size()) std::abort();
            for (const qm::formats::SignInProcess& process : record.processes) {
                if (process.program.size() > document.size() || process.command_line.size() > document.size())
                    std::abort();
            }
            break;
        }
        case 1: {
            if (const auto event = qm::formats::read_boot_event(bytes)) {
                if (event->name.size() + event->path.size() + event->friendly_name.size() > bytes.size()) std::abort();
            }
            break;
        }
        case 2: {
            for (const qm::formats::UnitTiming& timing : qm::formats::read_unit_timings(bytes)) {
                if (timing.id.size() > bytes.size() || (timing.duration_us && !timing.start_us)) std::abort();
            }
            (void)qm::formats::read_boot_phases(bytes).total_us();
            break;
        }
        default: {
            if (const auto value = qm::formats::attribute(bytes, "Name"); value && value->size() > bytes.size())
                std::abort();
            (void)qm::formats::sign_in_record_number(bytes, "S-1-5-21-1");
            // A time read back from the text it gives is the same time.
            if (const auto seconds = qm::read_time_text(bytes)) {
                if (qm::read_time_text(qm::time_text(*seconds)) != seconds) std::abort();
            }
            break;
        }
    }
    return 0;
}
