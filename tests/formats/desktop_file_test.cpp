#include <gtest/gtest.h>

#include "formats/desktop_file.h"

namespace qm::formats {
namespace {

// A key set in a file without the group adds the group at the end, so the
// lines above the file's first group never become keys of it.
TEST(DesktopFileSet, AGroupAddedToAFileWithoutOneTakesNoLinesIntoIt) {
    DesktopFile file("Exec=old\n[Other]\nName=x\n");
    file.set("Hidden", "true");
    EXPECT_EQ(file.text(), "Exec=old\n[Other]\nName=x\n[Desktop Entry]\nHidden=true\n");
    const DesktopFile reread(file.text());
    EXPECT_EQ(reread.get("Exec"), "");
    EXPECT_TRUE(reread.flag("Hidden"));
}

}  // namespace
}  // namespace qm::formats
