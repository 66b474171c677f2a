// System tools are started by their full path below the system folder: files
// of the same names beside the program are never run, and in the test build
// only the stand-ins of the tests' own folder take their place.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "os/files.h"
#include "os/system_tool.h"
#include "os/windows/wide.h"
#include "platforms/windows/system_test_support.h"
#include "util/text.h"

namespace qm::windows {
namespace {

std::string system_folder() {
    wchar_t folder[MAX_PATH + 1] = {};
    return os::windows::to_utf8(std::wstring(folder, ::GetSystemDirectoryW(folder, MAX_PATH + 1)));
}

TEST(SystemTools, AreNamedByFullPathAndStandInsOnlyFromTheTestsFolder) {
    ASSERT_TRUE(os::tool_standins_built_in());
    EXPECT_EQ(to_lower_ascii(os::system_tool("qm-no-stand-in.exe")),
              to_lower_ascii(system_folder() + "\\qm-no-stand-in.exe"));
    // The stand-ins are those built beside the test program.
    EXPECT_EQ(to_lower_ascii(os::system_tool("sc.exe")), to_lower_ascii(test::beside_tests("sc.exe")));
    EXPECT_EQ(to_lower_ascii(os::system_tool("WindowsPowerShell\\v1.0\\powershell.exe")),
              to_lower_ascii(test::beside_tests("powershell.exe")));
}

TEST(SystemTools, PlantedBesideTheProgramAreNeverRun) {
    test::TestServices services;
    const std::string service =
        services.create("Planted", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, "C:\\windows\\system32\\notepad.exe");
    const test::ProgramBesideStandIns program;
    const std::vector<std::string> planted = {"sc.exe", "schtasks.exe", "powershell.exe", "curl.exe"};
    for (const std::string& name : planted) {
        ASSERT_TRUE(::CopyFileW(os::windows::to_wide(test::beside_tests("planted.exe")).c_str(),
                                os::windows::to_wide(program.bin / name).c_str(), FALSE))
            << name;
    }

    const test::ProgramRun doctor = program.run({"doctor"});
    EXPECT_NE(doctor.out.find("Tool: sc.exe"), std::string::npos) << doctor.out << doctor.err;
    const test::ProgramRun off = program.run({"disable", service, "--yes"});
    EXPECT_EQ(off.exit_code, 0) << off.out << off.err;
    for (const std::string& name : planted) {
        EXPECT_NE(os::path_kind(program.bin / (name + ".ran")), os::PathKind::file) << name << " was run";
    }
}

}  // namespace
}  // namespace qm::windows
