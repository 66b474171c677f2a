// How a child program's request becomes what CreateProcessW takes: the one
// command line with the standard quoting, and the environment block with the
// extra variables merged in. Pure functions; thread-safe.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qm::os::windows {

// The program (quoted whole when it holds blanks) followed by each argument,
// quoted so that the C runtime's parser returns it unchanged: arguments that
// are empty or hold blanks or quotes are enclosed in quotes, a quote is
// escaped and backslashes before a quote or the closing quote are doubled.
[[nodiscard]] std::wstring command_line(const std::wstring& program, const std::vector<std::wstring>& arguments);

// `own_entries` ("NAME=value" each) with every extra variable added or
// replacing the entries of the same name without regard to case, sorted by
// name without regard to case as Windows keeps them, each entry ended by a
// zero and the whole block by one more.
[[nodiscard]] std::wstring environment_block(std::vector<std::wstring> own_entries,
                                             const std::vector<std::pair<std::wstring, std::wstring>>& extra);

// This process's environment, one "NAME=value" entry each.
[[nodiscard]] std::vector<std::wstring> own_environment_entries();

}  // namespace qm::os::windows
