// What checking program files' signatures adds to a scan on a real registry
// and file system (Wine's, or Windows'): 500 Run values, each starting a
// program file of its own (copies of notepad.exe in a scratch folder, dated
// an hour back so the record keeps their verdicts). Reports what the checks
// cost the first scan (no verdict recorded yet), then, over several rounds,
// later scans with the checks against the same scans without them, measured
// in turn in the same run; the checks must add at most 20 %. Removes what it
// wrote. Usage: signature_scan_windows_bench [rounds]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "knowledge/builtin_pack.h"
#include "os/windows/wide.h"
#include "platforms/windows/windows_platform.h"

namespace {

constexpr int program_count = 500;
const std::wstring run_path = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

double since(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"qm-signature-bench-" + std::to_wstring(::GetTickCount());
    const std::wstring data = folder + L"\\data";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::CreateDirectoryW(data.c_str(), nullptr);
    // The platform keeps its records in the data folder these name.
    ::SetEnvironmentVariableW(L"LOCALAPPDATA", data.c_str());
    ::SetEnvironmentVariableW(L"ProgramData", data.c_str());

    wchar_t windows[MAX_PATH] = {};
    ::GetSystemDirectoryW(windows, MAX_PATH);
    const std::wstring source = std::wstring(windows) + L"\\notepad.exe";
    HKEY run = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, run_path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &run, nullptr) !=
        ERROR_SUCCESS) {
        std::fprintf(stderr, "could not open the Run key\n");
        return 1;
    }
    // An hour back, so a record may keep what was found for each file.
    FILETIME now_time{};
    ::GetSystemTimeAsFileTime(&now_time);
    ULARGE_INTEGER back{};
    back.LowPart = now_time.dwLowDateTime;
    back.HighPart = now_time.dwHighDateTime;
    back.QuadPart -= 36'000'000'000ull;
    const FILETIME hour_ago{back.LowPart, back.HighPart};
    std::vector<std::wstring> names;
    for (int i = 0; i < program_count; ++i) {
        const std::wstring file = folder + L"\\program" + std::to_wstring(i) + L".exe";
        if (!::CopyFileW(source.c_str(), file.c_str(), FALSE)) {
            std::fprintf(stderr, "could not copy notepad.exe\n");
            return 1;
        }
        HANDLE handle = ::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            ::SetFileTime(handle, nullptr, nullptr, &hour_ago);
            ::CloseHandle(handle);
        }
        const std::wstring name = L"QmSignatureBench" + std::to_wstring(i);
        const std::wstring command = L"\"" + file + L"\" --tray";
        ::RegSetValueExW(run, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                         static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        names.push_back(name);
    }

    qm::model::SystemFacts facts;
    facts.os = "windows";
    qm::windows::WindowsPlatform platform(facts, [] { return qm::knowledge::builtin_pack().locations; });
    // The reference: the same scan without the checks, its version record
    // warmed by a first scan so both sides read the files' versions from it.
    platform.check_signatures(false);
    (void)platform.scan();
    auto started = std::chrono::steady_clock::now();
    (void)platform.scan();
    const double reference_first = since(started);
    // The first scan with the checks: no record of verdicts yet.
    platform.check_signatures(true);
    started = std::chrono::steady_clock::now();
    std::vector<qm::model::StartupItem> items = platform.scan().items;
    const double first_scan = since(started);

    // Later scans, with and without the checks in turn.
    std::vector<double> with_checks;
    std::vector<double> without;
    for (int round = 0; round < rounds; ++round) {
        platform.check_signatures(true);
        started = std::chrono::steady_clock::now();
        items = platform.scan().items;
        with_checks.push_back(since(started));
        platform.check_signatures(false);
        started = std::chrono::steady_clock::now();
        (void)platform.scan();
        without.push_back(since(started));
    }
    std::size_t checked = 0;
    for (const qm::model::StartupItem& item : items) checked += item.signature ? 1 : 0;

    for (const std::wstring& name : names) ::RegDeleteValueW(run, name.c_str());
    ::RegCloseKey(run);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(folder), ignored);

    const double with = median(with_checks);
    const double reference = median(without);
    const double added = (with - reference) / reference;
    std::printf("Signature checks of %d program files (%zu items checked), %d rounds:\n", program_count, checked,
                rounds);
    std::printf(
        "  first scan with the checks %.0f ms against %.0f ms without: the checks cost %.0f ms (%.2f ms per "
        "file) before any verdict is recorded\n",
        first_scan, reference_first, first_scan - reference_first, (first_scan - reference_first) / program_count);
    std::printf("  later scans: median %.1f ms with the checks, %.1f ms without\n", with, reference);
    std::printf("  the checks add %.1f %% to a later scan (limit 20 %%): %s\n", added * 100.0,
                added <= 0.20 ? "ok" : "TOO SLOW");
    return added <= 0.20 ? 0 : 1;
}
