// The folder that ties a program to its vendor's others: a path ending in a
// separator is a folder (where an installer put a program) and keeps its
// last part, so an install folder and the programs in it share a family.
#include <gtest/gtest.h>

#include "engine/change_causes.h"

namespace qm::engine {
namespace {

TEST(ProgramFamily, AnInstallFolderHasTheFamilyOfTheProgramsInIt) {
    const struct {
        const char* path;
        const char* family;
    } cases[] = {
        {"C:\\Program Files\\Vendorly\\App\\app.exe", "vendorly"},
        {"C:\\Program Files\\Vendorly\\", "vendorly"},
        {"C:\\Program Files\\Vendorly\\Update\\", "vendorly"},
        {"C:\\Tools\\Vendorly\\", "/c:/tools/vendorly"},
        {"C:\\Tools\\Vendorly\\tool.exe", "/c:/tools/vendorly"},
        {"/opt/vendorly/", "vendorly"},
        {"C:\\Windows\\System32\\", ""},
        {"C:\\", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(program_family(c.path), c.family) << c.path;
}

}  // namespace
}  // namespace qm::engine
