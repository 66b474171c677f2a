// Scan speed of the Run-key source on a real registry (Wine's, or Windows'):
// 1,000 Run values spread over the seven locations of the built-in knowledge,
// half of them with a start-up approval flag, scanned again and again by the
// Windows platform. Prints the time per scan and per item. Removes what it
// wrote. Usage: run_keys_scan_windows_bench [rounds]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "knowledge/builtin_pack.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/windows_platform.h"
#include "os/windows/wide.h"

namespace {

constexpr int value_count = 1000;
const std::wstring approved_root = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\";

struct Written {
    HKEY root;
    std::wstring path;
    REGSAM view;
    std::wstring name;
};

HKEY root_of(const std::string& hive) { return hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
REGSAM view_of(const std::string& view) { return view == "64" ? KEY_WOW64_64KEY : view == "32" ? KEY_WOW64_32KEY : 0; }

bool write_value(const Written& w, DWORD type, const std::wstring& text, const std::string& bytes) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(w.root, w.path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | w.view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    LSTATUS status = type == REG_BINARY
                         ? ::RegSetValueExW(key, w.name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                            static_cast<DWORD>(bytes.size()))
                         : ::RegSetValueExW(key, w.name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void remove_value(const Written& w) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(w.root, w.path.c_str(), 0, KEY_SET_VALUE | w.view, &key) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key, w.name.c_str());
    ::RegCloseKey(key);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const std::vector<qm::knowledge::RunKeyLocation>& locations = qm::knowledge::builtin_pack().locations.run_keys;
    std::vector<Written> written;
    for (int i = 0; i < value_count; ++i) {
        const qm::knowledge::RunKeyLocation& location = locations[static_cast<std::size_t>(i) % locations.size()];
        const std::wstring name = L"QmBench" + std::to_wstring(i);
        // Quoted and unquoted paths, as real Run values have them.
        const std::wstring command =
            i % 2 == 0 ? L"\"C:\\Program Files\\Vendor " + std::to_wstring(i) + L"\\app.exe\" --background"
                       : L"C:\\Program Files\\Vendor" + std::to_wstring(i) + L"\\app.exe /tray";
        Written value{root_of(location.hive), qm::os::windows::to_wide(location.path), view_of(location.view), name};
        if (!write_value(value, REG_SZ, command, {})) {
            std::fprintf(stderr, "could not write the test values\n");
            return 1;
        }
        written.push_back(value);
        if (i % 2 == 0 && !location.approved.empty()) {
            Written flag{value.root, approved_root + qm::os::windows::to_wide(location.approved), KEY_WOW64_64KEY,
                         name};
            std::string bytes(12, '\0');
            bytes[0] = i % 4 == 0 ? '\x03' : '\x02';
            if (write_value(flag, REG_BINARY, {}, bytes)) written.push_back(flag);
        }
    }

    qm::model::SystemFacts facts;
    facts.os = "windows";
    qm::windows::WindowsPlatform platform(facts, [] { return qm::knowledge::builtin_pack().locations; });
    std::size_t items = platform.scan().items.size();  // warm-up
    std::vector<double> milliseconds;
    for (int round = 0; round < rounds; ++round) {
        const auto started = std::chrono::steady_clock::now();
        items = platform.scan().items.size();
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    // The registry's share: the same keys and approval values read without
    // building items, so the rest is the program files' share.
    std::vector<double> registry_milliseconds;
    for (int round = 0; round < rounds; ++round) {
        const auto started = std::chrono::steady_clock::now();
        for (const qm::knowledge::RunKeyLocation& location : locations) {
            auto key =
                qm::windows::open_key(qm::windows::registry_root(location.hive), location.path,
                                      KEY_READ | qm::windows::view_flag(qm::windows::registry_view(location.view)));
            if (!key) continue;
            auto approval =
                qm::windows::open_key(qm::windows::registry_root(location.hive),
                                      std::string(qm::windows::startup_approved_path) + "\\" + location.approved,
                                      KEY_READ | KEY_WOW64_64KEY);
            for (const qm::windows::EnumeratedValue& value : qm::windows::enumerate_values(key->get())) {
                if (location.locked.empty() && approval) (void)qm::windows::try_read_raw(approval->get(), value.name);
            }
        }
        registry_milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    for (const Written& w : written) remove_value(w);
    std::sort(registry_milliseconds.begin(), registry_milliseconds.end());

    std::sort(milliseconds.begin(), milliseconds.end());
    const double median = milliseconds[milliseconds.size() / 2];
    std::printf("Run-key scan of %zu items (%d written by this benchmark), %d rounds:\n", items, value_count, rounds);
    std::printf("  median %.2f ms per scan, %.1f us per item; fastest %.2f ms, slowest %.2f ms\n", median,
                median * 1000.0 / static_cast<double>(std::max<std::size_t>(items, 1)), milliseconds.front(),
                milliseconds.back());
    std::printf("  of which the registry reads alone: median %.2f ms\n",
                registry_milliseconds[registry_milliseconds.size() / 2]);
    return 0;
}
