#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

#include "os/random.h"

namespace qm::os {

std::optional<std::string> random_bytes(std::size_t n) {
    std::string bytes(n, '\0');
    std::size_t filled = 0;
    while (filled < n) {
        ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(n - filled, 1u << 20));
        NTSTATUS status = ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(bytes.data() + filled), chunk,
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!BCRYPT_SUCCESS(status)) return std::nullopt;
        filled += chunk;
    }
    return bytes;
}

}  // namespace qm::os
