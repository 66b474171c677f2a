#include <gtest/gtest.h>

#include "json/json.h"
#include "model/startup_item.h"

namespace qm {
namespace {

model::StartupItem service_item() {
    model::StartupItem item(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                            "Print Spooler");
    item.set_spec("short", "Spooler");
    item.set_spec("start", "auto");
    item.set_spec("delayed", "false");
    item.set_spec("pid", "4242");
    item.set_spec("binary_path", "C:\\Windows\\System32\\spoolsv.exe");
    return item;
}

std::vector<std::string> keys_of(const json::JsonValue& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.as_object()) keys.push_back(key);
    return keys;
}

TEST(StartupItem, IdentityJoinsFourPartsWithoutEscapingBars) {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            "a|b");
    EXPECT_EQ(item.id(), "run|user|HKCU\\Run\\64|a|b");
    EXPECT_EQ(item.toggle, model::Toggle::ok);
    EXPECT_FALSE(item.enabled || item.running || item.managed);
    EXPECT_EQ(item.risk.level, model::Level::unknown);
    EXPECT_EQ(item.risk.confidence, model::Confidence::low);
}

TEST(StartupItem, SettingASpecKeyAgainReplacesItInPlace) {
    model::StartupItem item(model::ItemKind::run, "", model::Scope::user, "", "x");
    item.set_spec("short", "one");
    item.set_spec("hive", "HKCU");
    item.set_spec("short", "two");
    ASSERT_EQ(item.spec().size(), 2u);
    EXPECT_EQ(item.spec()[0], (model::SpecPair{"short", "two"}));
    EXPECT_EQ(item.spec_value("short"), "two");
    EXPECT_EQ(item.spec_value("missing"), "");
}

TEST(StartupItem, FullFormHasEveryFieldInOrderButNoSpec) {
    model::StartupItem item = service_item();
    item.dependents = {"Fax"};
    json::JsonValue full = model::item_full_json(item);
    EXPECT_EQ(keys_of(full),
              (std::vector<std::string>{"id",         "name",    "kind",       "kind_label",  "scope",       "location",
                                        "command",    "exe",     "publisher",  "description", "origin",      "package",
                                        "enabled",    "running", "state_text", "toggle",      "toggle_note", "managed",
                                        "dependents", "risk",    "impact",
                                        "ways"}));
    const std::string text = json::write(full);
    EXPECT_EQ(text.find("4242"), std::string::npos);
    EXPECT_EQ(text.find("spoolsv"), std::string::npos);
    EXPECT_EQ(keys_of(*json::get(full, "risk")),
              (std::vector<std::string>{"level", "effect", "reasons", "confidence", "critical", "needs_ack"}));
    EXPECT_TRUE(json::get_flag(*json::get(full, "risk"), "needs_ack"));  // unknown needs a decision
}

TEST(StartupItem, SavedFormOfAnUnmanagedItemKeepsOnlyKnownSpecKeys) {
    json::JsonValue saved = model::item_saved_json(service_item());
    EXPECT_EQ(keys_of(saved),
              (std::vector<std::string>{"id", "name", "kind", "kind_label", "scope", "location", "enabled",
                                        "state_text", "running", "exe", "publisher", "managed", "extra"}));
    EXPECT_EQ(json::write(*json::get(saved, "extra")), R"({"short":"Spooler","start":"auto","delayed":"false"})");
    EXPECT_EQ(json::get(saved, "risk"), nullptr);
    EXPECT_EQ(json::get(saved, "spec"), nullptr);
}

TEST(StartupItem, SavedFormOfAManagedItemKeepsAllButPidAndSaysHowToRecreateIt) {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            "Quillmoor-notes");
    item.managed = true;
    item.command = "\"C:\\Tools\\notes.exe\" --quiet";
    item.exe = "C:\\Tools\\notes.exe";
    item.set_spec("short", "Quillmoor-notes");
    item.set_spec("pid", "77");
    item.set_spec("run_as", "tamsel");
    item.set_spec("workdir", "C:\\Tools");
    item.set_spec("mode", "login");

    json::JsonValue from_item = model::item_saved_json(item);
    EXPECT_EQ(json::write(*json::get(from_item, "extra")),
              R"({"short":"Quillmoor-notes","run_as":"tamsel","workdir":"C:\\Tools","mode":"login"})");
    EXPECT_EQ(json::write(*json::get(from_item, "spec")),
              R"({"name":"Quillmoor-notes","command":"\"C:\\Tools\\notes.exe\" --quiet",)"
              R"("exe":"C:\\Tools\\notes.exe","workdir":"C:\\Tools","mode":"login","user":"tamsel",)"
              R"("description":""})");

    json::JsonValue recorded = json::parse(R"({"name":"notes","command":"x","mode":"login"})").value();
    json::JsonValue from_journal = model::item_saved_json(item, &recorded);
    EXPECT_EQ(*json::get(from_journal, "spec"), recorded);
}

}  // namespace
}  // namespace qm
