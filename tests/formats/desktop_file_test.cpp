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

// A key added after a last line that ends without a line feed (none, or a
// carriage return alone) is a line of its own, and reads back as set.
TEST(DesktopFileSet, AKeyAddedAfterAnUnfinishedLastLineIsALineOfItsOwn) {
    const std::pair<const char*, const char*> cases[] = {
        {"[Desktop Entry]\nName=x", "[Desktop Entry]\nName=x\nHidden=true\n"},
        {"[Desktop Entry]\nName=x\r", "[Desktop Entry]\nName=x\r\nHidden=true\n"},
        {"Name=x\r", "Name=x\r\n[Desktop Entry]\nHidden=true\n"},
    };
    for (const auto& [before, after] : cases) {
        DesktopFile file(before);
        file.set("Hidden", "true");
        EXPECT_EQ(file.text(), after) << before;
        EXPECT_TRUE(DesktopFile(file.text()).flag("Hidden")) << before;
    }
}

}  // namespace
}  // namespace qm::formats
