#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "os/windows/child_command.h"

namespace qm::os::windows {

namespace {

void append_argument(std::wstring& line, std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        line.append(argument);
        return;
    }
    line.push_back(L'"');
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are only special before a quote.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        line.push_back(c);
        backslashes = 0;
    }
    line.append(backslashes * 2, L'\\');
    line.push_back(L'"');
}

std::wstring_view variable_name(std::wstring_view entry) {
    // Entries such as "=C:=C:\x" (the folder per drive) begin with '='.
    std::size_t equals = entry.find(L'=', 1);
    return equals == std::wstring_view::npos ? entry : entry.substr(0, equals);
}

int compare_names(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE);
}

}  // namespace

std::wstring command_line(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    // The program part knows no escapes at all.
    std::wstring line;
    if (program.find_first_of(L" \t") != std::wstring::npos) {
        line = L"\"" + program + L"\"";
    } else {
        line = program;
    }
    for (const std::wstring& argument : arguments) {
        line.push_back(L' ');
        append_argument(line, argument);
    }
    return line;
}

std::wstring environment_block(std::vector<std::wstring> entries,
                               const std::vector<std::pair<std::wstring, std::wstring>>& extra) {
    for (const auto& [name, value] : extra) {
        std::erase_if(entries,
                      [&](const std::wstring& e) { return compare_names(variable_name(e), name) == CSTR_EQUAL; });
        entries.push_back(name + L"=" + value);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        return compare_names(variable_name(a), variable_name(b)) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block.append(entry);
        block.push_back(L'\0');
    }
    if (entries.empty()) block.push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

std::vector<std::wstring> own_environment_entries() {
    std::vector<std::wstring> entries;
    if (LPWCH own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = own; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            entries.emplace_back(entry);
        }
        ::FreeEnvironmentStringsW(own);
    }
    return entries;
}

}  // namespace qm::os::windows
