#ifdef __linux__
// A unit the user switched off comes back on a computer in a scratch folder:
// the program says so, names the timer of the same package that fired just
// before as the likely cause, and switches both off in one go.
#include <sys/time.h>

#include <gtest/gtest.h>

#include "json/json.h"
#include "platforms/linux/linux_tree.h"
#include "util/time_text.h"

namespace qm::test {
namespace {

void set_time(const std::string& path, std::int64_t seconds) {
    const timeval times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::lutimes(path.c_str(), times), 0) << path;
}

const json::JsonValue* item_named(const json::JsonValue& list, std::string_view name) {
    for (const json::JsonValue& item : list.as_array()) {
        if (json::get_text(item, "name") == name) return &item;
    }
    return nullptr;
}

TEST(LinuxChanges, AUnitThatCameBackNamesTheTimerOfItsPackageAndBothGoOffAgain) {
    if (!systemctl_present() || !linux::current_identity().root)
        GTEST_SKIP() << "switching units every user starts needs systemctl and root rights";
    ProgramOnTree on;
    const std::string units = "/usr/lib/systemd/user/";
    const std::string wants = "/etc/systemd/user/default.target.wants/vendorly.service";
    on.tree.write(units + "vendorly.service", service_unit("Vendorly", "/opt/vendorly/app", "default.target"));
    on.tree.write(units + "vendorly-update.timer",
                  "[Unit]\nDescription=Vendorly update\n\n[Timer]\nOnCalendar=daily\n\n[Install]\nWantedBy=timers.target\n");
    on.tree.write(units + "vendorly-update.service", service_unit("Vendorly update", "/opt/vendorly/update", ""));
    on.tree.link(wants, units + "vendorly.service");
    on.tree.link("/etc/systemd/user/timers.target.wants/vendorly-update.timer",
                 units + "vendorly-update.timer");
    on.tree.write("/var/lib/dpkg/status",
                  "Package: vendorly\nStatus: install ok installed\nPriority: optional\nVersion: 1\n"
                  "Architecture: all\nMaintainer: m <m@x>\nDescription: d\n");
    on.tree.write("/var/lib/dpkg/info/vendorly.list",
                  units + "vendorly.service\n" + units + "vendorly-update.timer\n" + units + "vendorly-update.service\n");
    const std::int64_t now = now_unix_seconds();
    set_time(on.tree.at("/var/lib/dpkg/info/vendorly.list"), now - 86400);

    ASSERT_EQ(on.run({"list"}, "KDE").exit_code, 0);  // the first scan is kept to compare with
    const ProgramRun off = on.run({"disable", "vendorly.service", "--yes"}, "KDE");
    ASSERT_EQ(off.exit_code, 0) << off.out << off.err;
    ASSERT_FALSE(on.tree.exists(wants));
    // The timer fires, and its update enables the unit again.
    on.tree.write(on.home + "/.local/share/systemd/timers/stamp-vendorly-update.timer", "");
    set_time(on.tree.at(on.home + "/.local/share/systemd/timers/stamp-vendorly-update.timer"), now - 120);
    on.tree.link(wants, units + "vendorly.service");

    const ProgramRun listed = on.run({"list", "--changes", "--json"}, "KDE");
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    const Result<json::JsonValue> list = json::parse(listed.out);
    ASSERT_TRUE(list.has_value()) << listed.out;
    const json::JsonValue* back = item_named(*list, "vendorly.service");
    ASSERT_NE(back, nullptr) << listed.out;
    EXPECT_EQ(json::get_text(*back, "change"), "came back");
    const json::JsonValue* cause = json::get(*back, "cause");
    ASSERT_NE(cause, nullptr) << listed.out;
    EXPECT_EQ(json::get_text(*cause, "name"), "vendorly-update.timer");
    EXPECT_EQ(json::get_text(*cause, "sure"), "likely");
    EXPECT_EQ(json::get_text(*cause, "why"),
              "vendorly-update.timer ran 2 minutes before the unit was enabled; the item comes from the package "
              "vendorly.");

    const ProgramRun both = on.run({"disable", "vendorly.service", "--and-cause", "--yes"}, "KDE");
    ASSERT_EQ(both.exit_code, 0) << both.out << both.err;
    EXPECT_FALSE(on.tree.exists(wants));
    EXPECT_FALSE(on.tree.exists("/etc/systemd/user/timers.target.wants/vendorly-update.timer"));
}

}  // namespace
}  // namespace qm::test
#endif
