// A stand-in for powershell.exe, built beside the test program, where a
// build made with QUILLMOOR_TOOL_STANDINS looks for it before the system
// folder (os/system_tool.h).
// It runs no script; it records how it was called and answers as told:
//
//   -EncodedCommand B64  the script, decoded from Base64 and UTF-16LE
//   QUILLMOOR_STANDIN_LOG     when set, the file (re)written with the record:
//                               "argument {text}" for each argument, in order
//                               "variable {NAME}={value}" for each QM_* variable
//                               "script" and then the decoded script to the end
//   QUILLMOOR_STANDIN_OUTPUT  what it prints to standard output ("started"
//                             with a line break when not set)
//   QUILLMOOR_STANDIN_EXIT    its exit code (0 when not set)
//
// A script that makes a shortcut (it calls CreateShortcut($env:QM_LNK)) is
// carried out, since Wine has no PowerShell: the shortcut is saved through
// the shell's own link object with QM_TARGET, QM_ARGS, QM_WORKDIR and the
// description the script sets, unless QUILLMOOR_STANDIN_NO_SHORTCUT is set.
//
// The control variables do not begin with QM_, so the record shows exactly
// the variables the caller passed on to the script. Elsewhere than on
// Windows it is a program that does nothing.
#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "standin_support.h"

namespace {

using standin::utf8;
using standin::variable;
using standin::wide;

// Standard Base64; characters outside the alphabet (padding included) are skipped.
std::string base64_decode(std::string_view text) {
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        else if (c >= '0' && c <= '9') value = c - '0' + 52;
        else if (c == '+') value = 62;
        else if (c == '/') value = 63;
        if (value < 0) continue;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return bytes;
}

std::string decode_script(const std::wstring& encoded) {
    std::string bytes = base64_decode(utf8(encoded));
    std::wstring wide;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        wide.push_back(
            static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return utf8(wide);
}

// What the shortcut script does: one link saved by the shell's link object.
void save_shortcut_as_the_script_would() {
    bool present = false;
    const std::wstring path = variable(L"QM_LNK", present);
    if (path.empty()) return;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link)))) {
        link->SetPath(variable(L"QM_TARGET", present).c_str());
        link->SetArguments(variable(L"QM_ARGS", present).c_str());
        link->SetWorkingDirectory(variable(L"QM_WORKDIR", present).c_str());
        link->SetDescription(L"Created by Quillmoor");
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            file->Save(path.c_str(), TRUE);
            file->Release();
        }
        link->Release();
    }
    ::CoUninitialize();
}

}  // namespace

int main() {
    const std::vector<std::wstring> arguments = standin::arguments();

    std::string record;
    std::string script;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        record += "argument " + utf8(arguments[i]) + "\n";
        if (_wcsicmp(arguments[i].c_str(), L"-EncodedCommand") == 0 && i + 1 < arguments.size()) {
            script = decode_script(arguments[i + 1]);
        }
    }
    if (LPWCH block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
            if (_wcsnicmp(entry, L"QM_", 3) == 0) record += "variable " + utf8(entry) + "\n";
        }
        ::FreeEnvironmentStringsW(block);
    }
    record += "script\n" + script;

    bool present = false;
    if (script.find("CreateShortcut($env:QM_LNK)") != std::string::npos) {
        variable(L"QUILLMOOR_STANDIN_NO_SHORTCUT", present);
        if (!present) save_shortcut_as_the_script_would();
    }
    if (const std::wstring log = variable(L"QUILLMOOR_STANDIN_LOG"); !log.empty()) {
        standin::write_file(log, record, L"wb");
    }
    std::string output = utf8(variable(L"QUILLMOOR_STANDIN_OUTPUT", present));
    if (!present) output = "started\n";
    _setmode(_fileno(stdout), _O_BINARY);  // the answer exactly as given, line breaks included
    std::fwrite(output.data(), 1, output.size(), stdout);
    std::fflush(stdout);
    return _wtoi(variable(L"QUILLMOOR_STANDIN_EXIT", present).c_str());
}
#else
int main() { return 0; }
#endif
