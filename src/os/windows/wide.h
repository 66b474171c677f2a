// UTF-8 <-> UTF-16 conversion for Win32 calls, and the one place that turns a
// Windows error code into the sentence shown to the user.
#pragma once

#include <string>
#include <string_view>

namespace qm::os::windows {

// Invalid input becomes U+FFFD rather than failing.
std::wstring to_wide(std::string_view utf8);
std::string to_utf8(std::wstring_view wide);

// The system's description of an error code, trimmed, in UTF-8.
std::string error_text(unsigned long code);

}  // namespace qm::os::windows
