// The sentences that describe a failed Win32 call, built in one place so every
// Windows layer words its failures alike.
#pragma once

#include <string>
#include <string_view>

namespace qm::os::windows {

// "Windows error {code} on {what}."
[[nodiscard]] std::string system_error(std::string_view what, unsigned long code);

// "Windows refused access to {what}." for ERROR_ACCESS_DENIED, otherwise the
// same as system_error.
[[nodiscard]] std::string access_or_system_error(std::string_view what, unsigned long code);

// "{action} {subject}: {system's reason}." e.g. "Could not write C:\x: Access is denied."
[[nodiscard]] std::string failed_with_reason(std::string_view action, std::string_view subject, unsigned long code);

}  // namespace qm::os::windows
