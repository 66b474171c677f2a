#ifdef __linux__
// Program files compared with the checksums their package recorded, through
// the real program on a computer of its own: one as installed, one changed
// by a byte (rated at least caution, with the reason), one no package owns,
// and one whose package records no checksum for it.
#include <gtest/gtest.h>

#include "json/json.h"
#include "platforms/linux/linux_tree.h"
#include "util/md5.h"

namespace qm::test {
namespace {

TEST(LinuxChecksums, ProgramFilesAreComparedWithTheirPackagesChecksums) {
    ProgramOnTree on;
    const LinuxTree& tree = on.tree;
    const std::string program = std::string(
                                    "\x7f"
                                    "ELF program bytes\n") +
                                std::string(5000, 'p');
    std::string changed = program;
    changed[2000] = 'q';
    tree.write("/usr/bin/intact", program);
    tree.write("/usr/bin/changed", changed);
    tree.write("/usr/bin/unlisted", program);
    tree.write("/opt/own/tool", program);
    tree.write("/var/lib/dpkg/status",
               "Package: frob\nStatus: install ok installed\nPriority: optional\nArchitecture: amd64\n"
               "Multi-Arch: same\n");
    tree.write("/var/lib/dpkg/info/frob:amd64.md5sums",
               md5_hex(program) + "  usr/bin/intact\n" + md5_hex(program) + "  usr/bin/changed\n");
    tree.write("/var/lib/dpkg/info/frob:amd64.list", "/usr/bin/intact\n/usr/bin/changed\n/usr/bin/unlisted\n");
    const std::map<std::string, std::string> units{{"intact", "/usr/bin/intact"},
                                                   {"changed", "/usr/bin/changed"},
                                                   {"unlisted", "/usr/bin/unlisted"},
                                                   {"own", "/opt/own/tool"}};
    for (const auto& [name, exe] : units) {
        tree.write("/etc/systemd/system/" + name + ".service", service_unit(name, exe, "multi-user.target"));
        tree.link("/etc/systemd/system/multi-user.target.wants/" + name + ".service",
                  "/etc/systemd/system/" + name + ".service");
    }

    const ProgramRun listed = on.run({"list", "--json"}, "");
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    Result<json::JsonValue> items = json::parse(listed.out);
    ASSERT_TRUE(items.has_value()) << listed.out;
    std::map<std::string, const json::JsonValue*> by_name;
    for (const json::JsonValue& item : items->as_array()) by_name[json::get_text(item, "name")] = &item;

    const struct {
        const char* unit;
        const char* verdict;
    } cases[] = {{"intact.service", "verified"},
                 {"changed.service", "modified"},
                 {"own.service", "unpackaged"},
                 {"unlisted.service", "not checked"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(by_name.contains(c.unit)) << listed.out;
        const json::JsonValue* signature = json::get(*by_name[c.unit], "signature");
        ASSERT_NE(signature, nullptr) << c.unit;
        EXPECT_EQ(json::get_text(*signature, "verdict"), c.verdict) << c.unit;
    }
    const json::JsonValue& changed_item = *by_name["changed.service"];
    const std::string level = json::get_text(*json::get(changed_item, "risk"), "level");
    EXPECT_TRUE(level == "caution" || level == "high" || level == "critical" || level == "unknown") << level;
    EXPECT_NE(json::write(changed_item).find("The program file was changed after it was signed"), std::string::npos);
    EXPECT_NE(json::get_text(*json::get(*by_name["unlisted.service"], "signature"), "note").find("records no checksum"),
              std::string::npos);
}

}  // namespace
}  // namespace qm::test

#endif
