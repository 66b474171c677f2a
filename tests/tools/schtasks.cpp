// A stand-in for schtasks.exe, built beside the test program, where a build
// made with QUILLMOOR_TOOL_STANDINS looks for it before the system folder
// (os/system_tool.h). Wine's own schtasks.exe registers and deletes tasks but
// prints nothing for /Query and fails every /Change, so this one answers
// those itself and hands everything else to the real tool:
//
//   QUILLMOOR_STANDIN_LOG     when set, the file to which one line is appended
//                             per call: the arguments joined by single spaces
//   QUILLMOOR_STANDIN_EXIT    when set, every call only prints
//                             QUILLMOOR_STANDIN_OUTPUT and ends with this code
//   QUILLMOOR_STANDIN_QUERY   /Query prints this file's bytes and succeeds;
//                             when not set, /Query goes to the real tool
//   QUILLMOOR_STANDIN_TASKS   the task folder that /Change /TN X /ENABLE or
//                             /DISABLE edits (Settings/Enabled of the file
//                             {folder}\X); the system's Tasks folder when not set
//   QUILLMOOR_STANDIN_REGISTER when set, /Create /TN X /XML F, /Delete /TN X
//                             and /Query /TN X work on the file {folder}\X as
//                             Windows does (the definition kept as given),
//                             where Wine's scheduler keeps a rewrite without
//                             the triggers and answers /Query for any name
//
// Elsewhere than on Windows it is a program that does nothing.
#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "standin_support.h"

namespace {

using standin::read_file;
using standin::system_folder;
using standin::utf8;
using standin::variable;
using standin::wide;
using standin::write_file;

void print(const std::string& text, FILE* stream) {
    _setmode(_fileno(stream), _O_BINARY);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// Runs the system's schtasks.exe with this program's own arguments.
int forward() {
    const int code = standin::pass_on_to_system_tool(L"schtasks.exe");
    if (code == -1) print("ERROR: the real schtasks.exe could not be started.\n", stderr);
    return code == -1 ? 1 : code;
}

// The file in which the task folder keeps the task at this path.
std::wstring task_file(const std::wstring& task_path) {
    bool present = false;
    std::wstring folder = variable(L"QUILLMOOR_STANDIN_TASKS", present);
    if (folder.empty()) folder = system_folder() + L"\\Tasks";
    return folder + (task_path.starts_with(L"\\") ? L"" : L"\\") + task_path;
}

// Registration as Windows keeps it: one file per task, its folders made as
// needed.
int register_task(const std::wstring& task_path, const std::wstring& definition) {
    std::string bytes;
    if (!read_file(definition, bytes)) {
        print("ERROR: The system cannot find the file specified.\n", stderr);
        return 1;
    }
    const std::wstring file = task_file(task_path);
    for (std::size_t slash = file.find(L'\\', 3); slash != std::wstring::npos; slash = file.find(L'\\', slash + 1)) {
        ::CreateDirectoryW(file.substr(0, slash).c_str(), nullptr);
    }
    if (!write_file(file, bytes, L"wb")) {
        print("ERROR: Access is denied.\n", stderr);
        return 1;
    }
    print("SUCCESS: The scheduled task \"" + utf8(task_path) + "\" has successfully been created.\n", stdout);
    return 0;
}

int delete_task(const std::wstring& task_path) {
    if (!::DeleteFileW(task_file(task_path).c_str())) {
        print("ERROR: The system cannot find the file specified.\n", stderr);
        return 1;
    }
    print("SUCCESS: The scheduled task \"" + utf8(task_path) + "\" was successfully deleted.\n", stdout);
    return 0;
}

int query_task(const std::wstring& task_path) {
    std::string bytes;
    if (!read_file(task_file(task_path), bytes)) {
        print("ERROR: The system cannot find the file specified.\n", stderr);
        return 1;
    }
    return 0;
}

// Sets Settings/Enabled of a definition, adding the element when missing, and
// writes the file back in its own encoding.
int change(const std::wstring& task_path, bool on) {
    const std::wstring file = task_file(task_path);
    std::string bytes;
    if (!read_file(file, bytes)) {
        print("ERROR: The system cannot find the file specified.\n", stderr);
        return 1;
    }
    const bool utf16 = bytes.starts_with("\xFF\xFE");
    std::wstring text;
    if (utf16) {
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                                static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
    } else {
        text = wide(bytes);
    }
    const std::wstring value = on ? L"true" : L"false";
    const std::size_t settings = text.find(L"<Settings>");
    const std::size_t settings_end = text.find(L"</Settings>");
    if (settings == std::wstring::npos || settings_end == std::wstring::npos) {
        const std::size_t task_end = text.rfind(L"</Task>");
        if (task_end == std::wstring::npos) {
            print("ERROR: The task XML is malformed.\n", stderr);
            return 1;
        }
        text.insert(task_end, L"<Settings><Enabled>" + value + L"</Enabled></Settings>");
    } else {
        const std::size_t open = text.find(L"<Enabled>", settings);
        const std::size_t close = open == std::wstring::npos ? open : text.find(L"</Enabled>", open);
        if (open != std::wstring::npos && close != std::wstring::npos && close < settings_end) {
            text.replace(open + 9, close - open - 9, value);
        } else {
            text.insert(settings_end, L"<Enabled>" + value + L"</Enabled>");
        }
    }
    std::string out;
    if (utf16) {
        out = "\xFF\xFE";
        for (wchar_t unit : text) {
            out.push_back(static_cast<char>(unit & 0xFF));
            out.push_back(static_cast<char>((unit >> 8) & 0xFF));
        }
    } else {
        out = utf8(text);
    }
    if (!write_file(file, out, L"wb")) {
        print("ERROR: Access is denied.\n", stderr);
        return 1;
    }
    print("SUCCESS: The parameters of scheduled task \"" + utf8(task_path) + "\" have been changed.\n", stdout);
    return 0;
}

bool same(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

}  // namespace

int main() {
    const std::vector<std::wstring> arguments = standin::arguments();
    standin::log_call(arguments);

    bool present = false;
    const std::wstring exit_code = variable(L"QUILLMOOR_STANDIN_EXIT", present);
    if (present) {
        print(utf8(variable(L"QUILLMOOR_STANDIN_OUTPUT", present)), stdout);
        return _wtoi(exit_code.c_str());
    }
    const std::wstring verb = arguments.empty() ? std::wstring() : arguments[0];
    variable(L"QUILLMOOR_STANDIN_REGISTER", present);
    if (present && arguments.size() >= 3 && same(arguments[1], L"/TN")) {
        if (same(verb, L"/Query")) return query_task(arguments[2]);
        if (same(verb, L"/Delete")) return delete_task(arguments[2]);
        if (same(verb, L"/Create") && arguments.size() >= 5 && same(arguments[3], L"/XML")) {
            return register_task(arguments[2], arguments[4]);
        }
    }
    if (same(verb, L"/Query")) {
        const std::wstring answer = variable(L"QUILLMOOR_STANDIN_QUERY", present);
        if (!present) return forward();
        std::string bytes;
        if (!read_file(answer, bytes)) return 1;
        print(bytes, stdout);
        return 0;
    }
    if (same(verb, L"/Change") && arguments.size() == 4 && same(arguments[1], L"/TN") &&
        (same(arguments[3], L"/ENABLE") || same(arguments[3], L"/DISABLE"))) {
        return change(arguments[2], same(arguments[3], L"/ENABLE"));
    }
    return forward();
}
#else
int main() { return 0; }
#endif
