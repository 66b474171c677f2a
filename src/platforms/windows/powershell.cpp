#include "platforms/windows/powershell.h"

#include "os/system_tool.h"
#include "os/windows/wide.h"
#include "util/base64.h"

namespace qm::windows {

std::vector<std::string> powershell_arguments(std::string_view script) {
    // UTF-8 output, so that run_tool reads what the script prints as UTF-8;
    // no progress display, which would otherwise be written into the output.
    std::string text =
        "[Console]::OutputEncoding = New-Object System.Text.UTF8Encoding $false\n"
        "$ProgressPreference='SilentlyContinue'\n";
    text.append(script);
    // -EncodedCommand takes the script as Base64 of its UTF-16LE form.
    const std::wstring wide = os::windows::to_wide(text);
    std::string utf16le;
    utf16le.reserve(wide.size() * 2);
    for (wchar_t unit : wide) {
        utf16le.push_back(static_cast<char>(unit & 0xFF));
        utf16le.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return {"-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass", "-EncodedCommand", base64_encode(utf16le)};
}

os::RunOutput run_powershell(const PowerShellRun& run, const os::ToolRunner& runner) {
    return runner(os::ToolRun{os::system_tool("WindowsPowerShell\\v1.0\\powershell.exe"),
                              powershell_arguments(run.script), run.environment, run.time_limit_seconds});
}

}  // namespace qm::windows
