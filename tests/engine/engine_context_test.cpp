#include <gtest/gtest.h>

#include "engine/engine_context.h"
#include "engine/journal.h"
#include "os/files.h"
#include "support/fake_platform.h"
#include "support/run_program.h"
#include "util/text.h"

namespace qm {
namespace {

model::StartupItem named(std::string name, std::string short_name = "") {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            name);
    item.set_spec("short", short_name.empty() ? name : short_name);
    item.origin = model::Origin::installed_program;
    return item;
}

class EngineContextTest : public ::testing::Test {
protected:
    void SetUp() override { root_ = test::make_scratch_folder("engine"); }
    void TearDown() override { (void)os::remove_tree(root_); }

    engine::EngineContext make(std::vector<model::StartupItem> items) {
        auto platform = std::make_unique<test::FakePlatform>();
        platform->items = std::move(items);
        platform_ = platform.get();
        return engine::EngineContext(std::move(platform), model::data_folder_override(os::join_path(root_, "data")));
    }
    std::string root_;
    test::FakePlatform* platform_ = nullptr;
};

TEST_F(EngineContextTest, OwnNameTagCountsOnlyWithACreateRecord) {
    model::StartupItem tagged = named("Quillmoor-notes");
    tagged.managed = true;
    tagged.origin = model::Origin::own_entry;
    model::StartupItem recorded = named("Quillmoor-tools");
    recorded.managed = true;
    engine::EngineContext context = make({tagged, recorded});
    engine::JournalRecord create;
    create.action = model::ChangeAction::create;
    create.id = recorded.id();
    create.ok = true;
    ASSERT_TRUE(engine::append_journal(context.data_folder(), create).has_value());

    engine::ScanState state = context.scan();
    EXPECT_FALSE(state.items[0].managed);
    EXPECT_EQ(state.items[0].origin, model::Origin::installed_program);
    EXPECT_TRUE(state.items[1].managed);
    EXPECT_EQ(state.items[1].risk.level, model::Level::safe);
    EXPECT_EQ(state.items[1].risk.confidence, model::Confidence::high);
}

TEST_F(EngineContextTest, CacheIsReusedUntilForgotten) {
    engine::EngineContext context = make({named("Spotify")});
    (void)context.items();
    (void)context.items();
    (void)context.find_item_by_id("run|user|HKCU\\Run\\64|Spotify");
    EXPECT_EQ(platform_->scans, 1);
    EXPECT_FALSE(context.find_item_by_id("run|user|HKCU\\Run\\64|Nothing").has_value());
    EXPECT_EQ(platform_->scans, 2);  // an unknown id looks again
    context.forget_cached_items();
    (void)context.items();
    EXPECT_EQ(platform_->scans, 3);
}

TEST_F(EngineContextTest, NameRuleFromExactIdToPartOfTheName) {
    model::StartupItem spooler(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                               "Spooler");
    spooler.name = "Print Spooler";
    spooler.set_spec("short", "Spooler");
    engine::EngineContext context = make({named("OneDrive"), named("OneNote"), spooler, named("onedrive", "od2")});

    EXPECT_EQ(context.find_item("run|user|HKCU\\Run\\64|OneNote")->name, "OneNote");
    EXPECT_EQ(context.find_item("spooler")->id(), "service|machine|Services|Spooler");
    EXPECT_EQ(context.find_item("ONEDRIVE").error(),
              "2 items are called \"ONEDRIVE\"; use the full id:\n  run|user|HKCU\\Run\\64|OneDrive\n"
              "  run|user|HKCU\\Run\\64|onedrive");
    EXPECT_EQ(context.find_item("note")->name, "OneNote");
    Result<model::StartupItem> two = context.find_item("one");
    ASSERT_FALSE(two.has_value());
    EXPECT_TRUE(
        two.error().message.starts_with("3 items match \"one\"; be more exact or use the id:\n  OneDrive  (Registry"))
        << two.error().message;
}

TEST_F(EngineContextTest, AWordInFifteenNamesListsTwelveAndSaysFifteen) {
    std::vector<model::StartupItem> items;
    for (int i = 0; i < 15; ++i) items.push_back(named("Helper number " + std::to_string(i)));
    engine::EngineContext context = make(items);
    std::string message = context.find_item("helper").error().message;
    EXPECT_TRUE(message.starts_with("15 items match \"helper\"")) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 12);
}

TEST_F(EngineContextTest, HostileQueriesFindNothingAndNeverCrash) {
    engine::EngineContext context = make({named("Spotify")});
    EXPECT_EQ(context.find_item("").error(), "nothing matches \"\"");
    for (const std::string& query : {std::string(1 << 20, 'x'), std::string("<script>\x01\x7f\"'"),
                                     std::string("\xff\xfe bad utf-8"), std::string("\0zero", 5)}) {
        Result<model::StartupItem> found = context.find_item(query);
        ASSERT_FALSE(found.has_value());
        // The query is echoed on one line, whatever it holds.
        EXPECT_EQ(found.error(), "nothing matches \"" + replace_control_characters(query, false) + "\"");
    }
}

TEST_F(EngineContextTest, DoctorReportsTheDataFolderWithoutCreatingIt) {
    engine::EngineContext context = make({});
    std::vector<model::Probe> report = engine::doctor_report(context);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0].name, "Test source");
    EXPECT_EQ(report[1].detail, "Built-in 2026.10.13.1 (516 rules).");
    EXPECT_EQ(report[2].status, model::ProbeStatus::ok);
    EXPECT_TRUE(
        report[2].detail.ends_with("(it does not exist yet; it is made when the first change or backup is saved)"));
    EXPECT_EQ(os::path_kind(context.data_folder().write_folder), os::PathKind::missing);

    // A folder that cannot take the test file fails the probe.
    ASSERT_TRUE(os::create_folders(os::join_path(context.data_folder().write_folder, ".write-test")).has_value());
    std::vector<model::Probe> blocked = engine::doctor_report(context);
    EXPECT_EQ(blocked[2].status, model::ProbeStatus::fail);
    EXPECT_EQ(blocked[2].detail, context.data_folder().write_folder);

    // A damaged knowledge file is a warning of its own.
    ASSERT_TRUE(os::create_folders(os::join_path(context.data_folder().write_folder, "knowledge")).has_value());
    ASSERT_TRUE(os::write_file_replace(os::join_path(context.data_folder().write_folder, "knowledge/local.json"), "{")
                    .has_value());
    ASSERT_TRUE(context.knowledge().save_settings(false, "").has_value());  // reloads the store
    std::vector<model::Probe> warned = engine::doctor_report(context);
    ASSERT_EQ(warned.size(), 4u);
    EXPECT_EQ(warned[2].name, "Knowledge file");
    EXPECT_EQ(warned[2].status, model::ProbeStatus::warn);
}

}  // namespace
}  // namespace qm
