// Saving real shortcut files through the shell's own link object, for tests
// that need .lnk files written the way Windows writes them.
#pragma once

#include <string>

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "os/windows/wide.h"

namespace qm::test {

// Saves `path` as a shortcut to `target` with the arguments and working
// folder given; true when the shell saved it.
inline bool save_shortcut(const std::string& path, const std::string& target, const std::string& arguments = {},
                          const std::string& working_directory = {}) {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link)))) {
        link->SetPath(os::windows::to_wide(target).c_str());
        if (!arguments.empty()) link->SetArguments(os::windows::to_wide(arguments).c_str());
        if (!working_directory.empty()) link->SetWorkingDirectory(os::windows::to_wide(working_directory).c_str());
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            saved = SUCCEEDED(file->Save(os::windows::to_wide(path).c_str(), TRUE));
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return saved;
}

}  // namespace qm::test
