// The registry layer, the Run-key source and the start-up approval flag,
// against the real registry of the Wine prefix. Every value a test writes
// carries a random tag in its name, so the scan's other items (and other
// tests' values) are told apart, and is removed when the test ends.
#include <algorithm>
#include <chrono>
#include <optional>

#include <gtest/gtest.h>

#include "knowledge/builtin_pack.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/run_keys.h"
#include "platforms/windows/windows_platform.h"
#include "os/os_test_support.h"
#include "platforms/windows/registry_test_support.h"
#include "util/time_text.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view run_once_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr std::string_view policy_run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
const std::string approved_run = std::string(startup_approved_path) + "\\Run";
const std::string approved_run32 = std::string(startup_approved_path) + "\\Run32";

std::wstring wide(std::string_view text) { return os::windows::to_wide(text); }

model::SystemFacts facts_with(bool admin) {
    model::SystemFacts facts;
    facts.os = "windows";
    facts.admin = admin;
    return facts;
}

WindowsPlatform platform_with(bool admin) {
    return WindowsPlatform(facts_with(admin), [] { return knowledge::builtin_pack().locations; });
}

// The scanned items whose name holds `tag`.
std::vector<model::StartupItem> tagged(const model::ScanResult& scan, const std::string& tag) {
    std::vector<model::StartupItem> found;
    for (const model::StartupItem& item : scan.items) {
        if (item.name.find(tag) != std::string::npos) found.push_back(item);
    }
    return found;
}

const model::StartupItem* by_name(const std::vector<model::StartupItem>& items, const std::string& name) {
    auto it = std::find_if(items.begin(), items.end(), [&](const model::StartupItem& i) { return i.name == name; });
    return it == items.end() ? nullptr : &*it;
}

class RunKeys : public ::testing::Test {
protected:
    std::string tag = "qmt" + test::random_hex(4);
    test::RegistryWriter registry;

    std::string name(std::string_view suffix) const { return tag + "-" + std::string(suffix); }
};

TEST(RegistryText, ExpandsReferencesExactlyAsWindowsReadsThem) {
    const VariableLookup lookup = [](std::string_view name) -> std::optional<std::string> {
        if (name == "ProgramFiles") return std::string("C:\\Program Files");
        if (name == "EMPTY") return std::string();
        return std::nullopt;
    };
    EXPECT_EQ(expand_references("%ProgramFiles%\\App\\app.exe", lookup), "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(expand_references("%NOSUCHVAR%\\x.exe", lookup), "%NOSUCHVAR%\\x.exe");
    EXPECT_EQ(expand_references("100%", lookup), "100%");
    EXPECT_EQ(expand_references("a %% b", lookup), "a %% b");
    EXPECT_EQ(expand_references("%%ProgramFiles%", lookup), "%C:\\Program Files");
    EXPECT_EQ(expand_references("[%EMPTY%]", lookup), "[]");
    // A known name after an unknown one: the unknown reference is kept whole
    // and scanning goes on after its closing sign.
    EXPECT_EQ(expand_references("%NO%%ProgramFiles%", lookup), "%NO%C:\\Program Files");
    // A value is not expanded again.
    const VariableLookup nested = [](std::string_view) -> std::optional<std::string> { return "%PATH%"; };
    EXPECT_EQ(expand_references("%X%", nested), "%PATH%");
}

TEST(RegistryText, DecodesUpToTheFirstNulLossily) {
    EXPECT_EQ(decode_registry_text(test::utf16_bytes(L"abc")), "abc");
    EXPECT_EQ(decode_registry_text(std::string("a\0b\0\0\0c\0", 8)), "ab");
    EXPECT_EQ(decode_registry_text(std::string("a\0b", 3)), "a");                     // odd last byte
    EXPECT_EQ(decode_registry_text(std::string("\x00\xD8x\0", 4)), "\xEF\xBF\xBDx");  // lone surrogate
    EXPECT_EQ(decode_registry_text(""), "");
}

TEST(ApprovalFlag, ReadsOnlyTheLowBitOfABinaryValue) {
    auto flag = [](DWORD type, std::string bytes) { return approval_flag_of(RawValue{type, std::move(bytes)}); };
    EXPECT_EQ(flag(REG_BINARY, approval_bytes(false, 1700000000)), ApprovalFlag::off);
    EXPECT_EQ(flag(REG_BINARY, std::string("\x02\0\0\0", 4)), ApprovalFlag::on);
    EXPECT_EQ(flag(REG_BINARY, std::string("\x06\0\0\0", 4)), ApprovalFlag::on);
    EXPECT_EQ(flag(REG_BINARY, std::string("\x07", 1)), ApprovalFlag::off);
    EXPECT_EQ(flag(REG_DWORD, std::string("\x03\0\0\0", 4)), ApprovalFlag::none);
    EXPECT_EQ(flag(REG_BINARY, ""), ApprovalFlag::none);
    EXPECT_EQ(approval_flag_of(std::nullopt), ApprovalFlag::none);
}

TEST(ApprovalFlag, WritesTwelveBytesWithTheFileTimeAtWholeSeconds) {
    EXPECT_EQ(approval_bytes(true, 1700000000), std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));
    // 2023-11-14 22:13:20 UTC = 1,700,000,000 s: 17,000,000,000,000,000 +
    // 116,444,736,000,000,000 ticks = 0x01DA1747_C66D0000.
    EXPECT_EQ(approval_bytes(false, 1700000000), std::string("\x03\0\0\0\x00\x00\x6D\xC6\x47\x17\xDA\x01", 12));
}

TEST_F(RunKeys, EveryTextValueOfEverySevenLocationsBecomesAnItemFieldByField) {
    test::set_env("QM_TEST_APPS", std::string("C:\\Apps"));
    const std::wstring long_name = wide(tag) + std::wstring(16383 - tag.size(), L'n');
    const std::wstring big_command = L"C:\\big.exe " + std::wstring(3000, L'x');  // 6 KB of data
    const std::string unicode_name = name("Ünïcødé 日本");

    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("plain")),
                        L"\"C:\\Program Files\\App\\app.exe\" --tray");
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("expand")), L"%QM_TEST_APPS%\\app.exe /x",
                        REG_EXPAND_SZ);
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("unknown")), L"%NOSUCHVAR%\\x.exe", REG_EXPAND_SZ);
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("percent")), L"100%", REG_EXPAND_SZ);
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("literal")), L"%QM_TEST_APPS%\\a.exe");
    registry.write(HKEY_CURRENT_USER, run_path, 0, wide(name("multi")), REG_MULTI_SZ,
                   test::utf16_bytes(L"a.exe\0b.exe\0", true));
    registry.write(HKEY_CURRENT_USER, run_path, 0, wide(name("binary")), REG_BINARY, "C:\\x.exe");
    registry.write(HKEY_CURRENT_USER, run_path, 0, wide(name("dword")), REG_DWORD, std::string("\1\0\0\0", 4));
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, long_name, L"C:\\long.exe");
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("big")), big_command);
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(unicode_name), L"C:\\Programme\\Äpp\\äpp.exe");
    registry.write(HKEY_CURRENT_USER, run_path, 0, wide(name("nonul")), REG_SZ, test::utf16_bytes(L"C:\\a.exe", false));
    registry.write_text(HKEY_LOCAL_MACHINE, run_path, KEY_WOW64_64KEY, wide(name("hklm64")), L"C:\\m64.exe");
    registry.write_text(HKEY_LOCAL_MACHINE, run_path, KEY_WOW64_32KEY, wide(name("hklm32")), L"C:\\m32.exe");
    registry.write_text(HKEY_CURRENT_USER, run_once_path, 0, wide(name("once")), L"C:\\once.exe");
    registry.write_text(HKEY_LOCAL_MACHINE, run_once_path, KEY_WOW64_64KEY, wide(name("monce")), L"C:\\monce.exe");
    registry.write_text(HKEY_CURRENT_USER, policy_run_path, 0, wide(name("policy")), L"C:\\policy.exe");
    registry.write_text(HKEY_LOCAL_MACHINE, policy_run_path, KEY_WOW64_64KEY, wide(name("mpolicy")),
                        L"C:\\mpolicy.exe");
    registry.write_text(HKEY_CURRENT_USER, std::string(run_path), 0, L"", L"C:\\default.exe");  // the default value

    const model::ScanResult scan = platform_with(true).scan();
    test::set_env("QM_TEST_APPS", std::nullopt);
    const std::vector<model::StartupItem> items = tagged(scan, tag);
    EXPECT_EQ(items.size(), 15u);

    const model::StartupItem* plain = by_name(items, name("plain"));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->kind, model::ItemKind::run);
    EXPECT_EQ(plain->kind_label, "Registry (Run, this user)");
    EXPECT_EQ(plain->scope, model::Scope::user);
    EXPECT_EQ(plain->location, "HKCU\\Run\\64");
    EXPECT_EQ(plain->id(), "run|user|HKCU\\Run\\64|" + name("plain"));
    EXPECT_EQ(plain->command, "\"C:\\Program Files\\App\\app.exe\" --tray");
    EXPECT_EQ(plain->exe, "C:\\Program Files\\App\\app.exe");
    EXPECT_EQ(plain->origin, model::Origin::installed_program);
    EXPECT_EQ(plain->spec_value("short"), name("plain"));
    EXPECT_EQ(plain->spec_value("hive"), "HKCU");
    EXPECT_EQ(plain->spec_value("approved"), "Run");
    EXPECT_TRUE(plain->enabled);
    EXPECT_EQ(plain->state_text, "Enabled");
    EXPECT_EQ(plain->toggle, model::Toggle::ok);
    EXPECT_FALSE(plain->managed);

    ASSERT_NE(by_name(items, name("expand")), nullptr);
    EXPECT_EQ(by_name(items, name("expand"))->command, "C:\\Apps\\app.exe /x");
    EXPECT_EQ(by_name(items, name("unknown"))->command, "%NOSUCHVAR%\\x.exe");
    EXPECT_EQ(by_name(items, name("percent"))->command, "100%");
    EXPECT_EQ(by_name(items, name("literal"))->command, "%QM_TEST_APPS%\\a.exe");  // REG_SZ is not expanded
    EXPECT_EQ(by_name(items, name("multi")), nullptr);
    EXPECT_EQ(by_name(items, name("binary")), nullptr);
    EXPECT_EQ(by_name(items, name("dword")), nullptr);
    for (const model::StartupItem& item : scan.items) EXPECT_NE(item.command, "C:\\default.exe");

    const model::StartupItem* long_item = by_name(items, os::windows::to_utf8(long_name));
    ASSERT_NE(long_item, nullptr);
    EXPECT_EQ(long_item->name.size(), 16383u);
    ASSERT_NE(by_name(items, name("big")), nullptr);
    EXPECT_EQ(by_name(items, name("big"))->command, os::windows::to_utf8(big_command));
    ASSERT_NE(by_name(items, unicode_name), nullptr);
    EXPECT_EQ(by_name(items, unicode_name)->command, "C:\\Programme\\Äpp\\äpp.exe");
    EXPECT_EQ(by_name(items, name("nonul"))->command, "C:\\a.exe");

    const model::StartupItem* m64 = by_name(items, name("hklm64"));
    const model::StartupItem* m32 = by_name(items, name("hklm32"));
    ASSERT_TRUE(m64 && m32);
    EXPECT_EQ(m64->location, "HKLM\\Run\\64");
    EXPECT_EQ(m64->scope, model::Scope::machine);
    EXPECT_EQ(m64->kind_label, "Registry (Run, all users)");
    EXPECT_EQ(m64->spec_value("approved"), "Run");
    EXPECT_EQ(m32->location, "HKLM\\Run\\32");
    EXPECT_EQ(m32->kind_label, "Registry (Run, 32-bit, all users)");
    EXPECT_EQ(m32->spec_value("approved"), "Run32");
    EXPECT_EQ(m32->command, "C:\\m32.exe");

    for (const char* locked_name : {"once", "monce", "policy", "mpolicy"}) {
        const model::StartupItem* item = by_name(items, name(locked_name));
        ASSERT_NE(item, nullptr) << locked_name;
        EXPECT_EQ(item->toggle, model::Toggle::locked) << locked_name;
        EXPECT_TRUE(item->enabled);
        EXPECT_EQ(item->state_text, "Runs");
        EXPECT_FALSE(item->toggle_note.empty());
    }
    EXPECT_EQ(by_name(items, name("once"))->location, "HKCU\\RunOnce\\64");
    EXPECT_EQ(by_name(items, name("mpolicy"))->toggle_note,
              "Set by a policy (Group Policy or an administrator). Change the policy, not this entry.");
}

TEST_F(RunKeys, ApprovalValuesOfEveryFormReadAsOnOrOff) {
    struct Form {
        std::string suffix;
        DWORD type;
        std::string bytes;  // empty type REG_NONE: no approval value at all
        bool enabled;
    };
    const std::vector<Form> forms = {
        {"off", REG_BINARY, approval_bytes(false, 1700000000), false},
        {"on", REG_BINARY, approval_bytes(true, 0), true},
        {"six", REG_BINARY, std::string("\x06\0\0\0\0\0\0\0\0\0\0\0", 12), true},
        {"dword", REG_DWORD, std::string("\x03\0\0\0", 4), true},
        {"empty", REG_BINARY, "", true},
        {"none", REG_NONE, "", true},
    };
    for (const Form& form : forms) {
        registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name(form.suffix)), L"C:\\a.exe");
        if (form.type != REG_NONE) {
            registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide(name(form.suffix)), form.type,
                           form.bytes);
        }
    }
    const std::vector<model::StartupItem> items = tagged(platform_with(true).scan(), tag);
    for (const Form& form : forms) {
        const model::StartupItem* item = by_name(items, name(form.suffix));
        ASSERT_NE(item, nullptr) << form.suffix;
        EXPECT_EQ(item->enabled, form.enabled) << form.suffix;
        EXPECT_EQ(item->state_text, form.enabled ? "Enabled" : "Disabled") << form.suffix;
    }

    // A location whose approval key does not exist at all reads as on.
    knowledge::KnowledgeLocations locations;
    knowledge::RunKeyLocation missing_key = knowledge::builtin_pack().locations.run_keys.front();
    missing_key.approved = "NoSuchKey" + tag;
    locations.run_keys.push_back(missing_key);
    WindowsPlatform platform(facts_with(true), [&] { return locations; });
    const model::StartupItem* off_elsewhere = by_name(tagged(platform.scan(), tag), name("off"));
    ASSERT_NE(off_elsewhere, nullptr);
    EXPECT_TRUE(off_elsewhere->enabled);
}

TEST_F(RunKeys, OnlyMachineItemsNeedAdministratorRightsToSwitch) {
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("user")), L"C:\\u.exe");
    registry.write_text(HKEY_LOCAL_MACHINE, run_path, KEY_WOW64_64KEY, wide(name("m64")), L"C:\\m64.exe");
    registry.write_text(HKEY_LOCAL_MACHINE, run_path, KEY_WOW64_32KEY, wide(name("m32")), L"C:\\m32.exe");
    registry.write_text(HKEY_LOCAL_MACHINE, run_once_path, KEY_WOW64_64KEY, wide(name("once")), L"C:\\o.exe");

    const std::vector<model::StartupItem> ordinary = tagged(platform_with(false).scan(), tag);
    ASSERT_EQ(ordinary.size(), 4u);
    EXPECT_EQ(by_name(ordinary, name("user"))->toggle, model::Toggle::ok);
    EXPECT_EQ(by_name(ordinary, name("m64"))->toggle, model::Toggle::admin);
    EXPECT_EQ(by_name(ordinary, name("m32"))->toggle, model::Toggle::admin);
    EXPECT_EQ(by_name(ordinary, name("once"))->toggle, model::Toggle::locked);  // locked wins: nothing to switch

    for (const model::StartupItem& item : tagged(platform_with(true).scan(), tag)) {
        EXPECT_NE(item.toggle, model::Toggle::admin) << item.name;
    }
}

TEST_F(RunKeys, SwitchingWritesOnlyTheApprovalValueInTheItemsOwnKey) {
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide(name("user")), L"C:\\u.exe --flag");
    registry.write_text(HKEY_LOCAL_MACHINE, run_path, KEY_WOW64_32KEY, wide(name("m32")), L"C:\\m32.exe");
    // Removed at the end, whatever the switch wrote.
    registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide(name("user")), REG_BINARY, "");
    registry.write(HKEY_LOCAL_MACHINE, approved_run32, KEY_WOW64_64KEY, wide(name("m32")), REG_BINARY, "");
    const auto run_value_before = test::read_value(HKEY_CURRENT_USER, run_path, 0, wide(name("user")));

    WindowsPlatform platform = platform_with(true);
    std::vector<model::StartupItem> items = tagged(platform.scan(), tag);
    const model::StartupItem* user = by_name(items, name("user"));
    ASSERT_NE(user, nullptr);

    const std::int64_t before = now_unix_seconds();
    Result<model::ChangeOutcome> off = platform.set_enabled(*user, false, false);
    const std::int64_t after = now_unix_seconds();
    ASSERT_TRUE(off.has_value()) << off.error();
    EXPECT_EQ(off->message, name("user") + " will no longer start with Windows (the entry itself is untouched).");
    EXPECT_TRUE(off->notes.empty());
    auto [type, bytes] = test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide(name("user")));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x03\0\0\0", 4));
    std::uint64_t ticks = 0;
    for (int i = 7; i >= 0; --i) ticks = ticks << 8 | static_cast<unsigned char>(bytes[4 + i]);
    EXPECT_EQ(ticks % 10000000, 0u) << "whole seconds";
    const auto seconds = static_cast<std::int64_t>((ticks - 116444736000000000ULL) / 10000000);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_FALSE(by_name(tagged(platform.scan(), tag), name("user"))->enabled);

    Result<model::ChangeOutcome> on = platform.set_enabled(*user, true, false);
    ASSERT_TRUE(on.has_value()) << on.error();
    EXPECT_EQ(on->message, name("user") + " will start with Windows (the entry itself is untouched).");
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide(name("user"))).second,
              std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, run_path, 0, wide(name("user"))), run_value_before);
    EXPECT_TRUE(by_name(tagged(platform.scan(), tag), name("user"))->enabled);

    // The 32-bit machine key is switched through "Run32".
    const model::StartupItem* m32 = by_name(items, name("m32"));
    ASSERT_NE(m32, nullptr);
    ASSERT_TRUE(platform.set_enabled(*m32, false, false).has_value());
    EXPECT_EQ(test::read_value(HKEY_LOCAL_MACHINE, approved_run32, KEY_WOW64_64KEY, wide(name("m32"))).second[0],
              '\x03');
    EXPECT_EQ(test::read_value(HKEY_LOCAL_MACHINE, approved_run, KEY_WOW64_64KEY, wide(name("m32"))).first,
              static_cast<DWORD>(REG_NONE));
}

TEST_F(RunKeys, SwitchRefusalsNameWhatFailedAndChangeNothing) {
    WindowsPlatform platform = platform_with(true);
    model::StartupItem locked(model::ItemKind::run, "Registry (RunOnce, this user)", model::Scope::user,
                              "HKCU\\RunOnce\\64", name("once"));
    locked.set_spec("short", name("once"));
    locked.set_spec("hive", "HKCU");
    locked.set_spec("approved", "");
    Result<model::ChangeOutcome> refused = platform.set_enabled(locked, false, false);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "This entry cannot be switched.");

    model::StartupItem cron(model::ItemKind::cron, "Cron", model::Scope::user, "crontab", "x");
    Result<model::ChangeOutcome> unsupported = platform.set_enabled(cron, false, false);
    ASSERT_FALSE(unsupported.has_value());
    EXPECT_EQ(unsupported.error(), "Unsupported entry type \"cron\".");

    // An approval key that cannot be created: a volatile key may not hold a
    // lasting one, so Windows refuses to create it there.
    const std::string volatile_name = "Volatile" + tag;
    const std::string volatile_path = std::string(startup_approved_path) + "\\" + volatile_name;
    HKEY created = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, wide(volatile_path).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(created);
    registry.own_key(HKEY_CURRENT_USER, volatile_path, KEY_WOW64_64KEY);
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            name("v"));
    item.set_spec("short", name("v"));
    item.set_spec("hive", "HKCU");
    item.set_spec("approved", volatile_name + "\\Inner");
    Result<model::ChangeOutcome> failed = platform.set_enabled(item, false, false);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), "Windows error 1021 on HKCU\\...\\StartupApproved\\" + volatile_name + "\\Inner.");
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, volatile_path + "\\Inner", KEY_WOW64_64KEY, wide(name("v"))).first,
              static_cast<DWORD>(REG_NONE));

    // An approval key that everyone may read but nobody may write: refused,
    // and the value stays as it was.
    const std::string read_only_name = "ReadOnly" + tag;
    const std::string read_only_path = std::string(startup_approved_path) + "\\" + read_only_name;
    registry.write(HKEY_CURRENT_USER, read_only_path, KEY_WOW64_64KEY, wide(name("r")), REG_BINARY,
                   std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));
    registry.own_key(HKEY_CURRENT_USER, read_only_path, KEY_WOW64_64KEY);
    {
        test::KeySecurity read_only(HKEY_CURRENT_USER, read_only_path, KEY_WOW64_64KEY, L"D:P(A;;KR;;;WD)");
        item.set_spec("short", name("r"));
        item.set_spec("approved", read_only_name);
        Result<model::ChangeOutcome> refused_write = platform.set_enabled(item, false, false);
        ASSERT_FALSE(refused_write.has_value());
        EXPECT_EQ(refused_write.error(),
                  "Windows refused access to HKCU\\...\\StartupApproved\\" + read_only_name + ".");
        EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, read_only_path, KEY_WOW64_64KEY, wide(name("r"))).second,
                  std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));
    }
}

TEST_F(RunKeys, TheOwnNamePrefixMarksAnEntryAsCreatedByTheProgram) {
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, L"Quillmoor-" + wide(tag), L"C:\\a.exe");
    // Value names ignore case in the registry, so the lower-case one is another name.
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, L"quillmoor-b-" + wide(tag), L"C:\\b.exe");
    const std::vector<model::StartupItem> items = tagged(platform_with(true).scan(), tag);
    ASSERT_EQ(items.size(), 2u);
    const model::StartupItem* own = by_name(items, "Quillmoor-" + tag);
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(own->managed);
    EXPECT_EQ(own->origin, model::Origin::own_entry);
    ASSERT_NE(by_name(items, "quillmoor-b-" + tag), nullptr);
    EXPECT_FALSE(by_name(items, "quillmoor-b-" + tag)->managed);  // the prefix counts as written
}

TEST(RegistryLayer, NumbersAndTextsCountOnlyInTheirOwnTypes) {
    test::RegistryWriter registry;
    const std::string path = "SOFTWARE\\QuillmoorTest" + test::random_hex(4);
    registry.own_key(HKEY_CURRENT_USER, path);
    registry.write(HKEY_CURRENT_USER, path, 0, L"dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4));
    registry.write(HKEY_CURRENT_USER, path, 0, L"short", REG_DWORD, std::string("\x01\x02", 2));
    registry.write(HKEY_CURRENT_USER, path, 0, L"binary", REG_BINARY, std::string("\x01\0\0\0", 4));
    registry.write_text(HKEY_CURRENT_USER, path, 0, L"text", L"hello");
    registry.write_text(HKEY_CURRENT_USER, path, 0, L"expand", L"%X%", REG_EXPAND_SZ);

    RegistryResult<RegistryKey> key = open_key(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(try_read_number(key->get(), "dword"), 0x12345678u);
    EXPECT_EQ(try_read_number(key->get(), "short"), std::nullopt);
    EXPECT_EQ(try_read_number(key->get(), "binary"), std::nullopt);
    EXPECT_EQ(try_read_number(key->get(), "text"), std::nullopt);
    EXPECT_EQ(try_read_text(key->get(), "text"), "hello");
    EXPECT_EQ(try_read_text(key->get(), "expand"), "%X%");
    EXPECT_EQ(try_read_text(key->get(), "dword"), std::nullopt);
    EXPECT_EQ(try_read_text(key->get(), "missing"), std::nullopt);

    ASSERT_TRUE(delete_value(key->get(), "text").has_value());
    EXPECT_TRUE(delete_value(key->get(), "text").has_value()) << "a missing value is already deleted";
    EXPECT_EQ(try_read_text(key->get(), "text"), std::nullopt);

    RegistryResult<RegistryKey> absent = open_key(HKEY_CURRENT_USER, path + "\\Nope", KEY_READ);
    ASSERT_FALSE(absent.has_value());
    EXPECT_EQ(registry_failure("X", absent.error()), "Windows error 2 on X.");
    EXPECT_EQ(registry_failure("the flag", RegistryError{5}), "Windows refused access to the flag.");
}

// A key of many values is read on several threads and one of few in turn;
// both give every value, in the order the registry lists them.
TEST(RegistryLayer, EnumerationGrowsItsBufferAndReadsEveryValue) {
    for (const int count : {50, 150}) {
        SCOPED_TRACE(count);
        test::RegistryWriter registry;
        const std::string path = "SOFTWARE\\QuillmoorTest" + test::random_hex(4);
        registry.own_key(HKEY_CURRENT_USER, path);
        for (int i = 0; i < count; ++i) {
            // Sizes around and far past the first 4,096-byte buffer.
            const std::size_t size = static_cast<std::size_t>(i % 50) * 401;
            registry.write(HKEY_CURRENT_USER, path, 0, L"v" + std::to_wstring(i), REG_BINARY,
                           std::string(size, 'a' + i % 26));
        }
        RegistryResult<RegistryKey> key = open_key(HKEY_CURRENT_USER, path, KEY_READ);
        ASSERT_TRUE(key.has_value());
        bool complete = false;
        std::vector<EnumeratedValue> values = enumerate_values(key->get(), &complete);
        EXPECT_TRUE(complete);
        ASSERT_EQ(values.size(), static_cast<std::size_t>(count));
        for (DWORD index = 0; index < values.size(); ++index) {
            const EnumeratedValue& value = values[index];
            wchar_t listed[64];
            DWORD length = 64;
            ASSERT_EQ(::RegEnumValueW(key->get(), index, listed, &length, nullptr, nullptr, nullptr, nullptr),
                      ERROR_SUCCESS);
            EXPECT_EQ(value.name, os::windows::to_utf8(std::wstring_view(listed, length)));
            const int i = std::stoi(value.name.substr(1));
            EXPECT_EQ(value.bytes, std::string(static_cast<std::size_t>(i % 50) * 401, 'a' + i % 26)) << value.name;
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
        }
    }
}

// A Run key that is there but cannot be read is named in a note with the
// Windows error code; one that is not there is simply empty.
TEST(RunKeySource, AKeyThatCannotBeReadGivesANoteAndAMissingOneNothing) {
    test::RegistryWriter registry;
    const std::string path = "SOFTWARE\\QuillmoorTest" + test::random_hex(4);
    registry.write(HKEY_CURRENT_USER, path, 0, L"Tray", REG_SZ, std::string("x\0", 2));
    // An empty access list lets nobody read the key; its owner may still change the list.
    ACL empty{};
    ASSERT_TRUE(::InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    SECURITY_DESCRIPTOR closed{};
    ASSERT_TRUE(::InitializeSecurityDescriptor(&closed, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&closed, TRUE, &empty, FALSE));
    RegistryResult<RegistryKey> owned = open_key(HKEY_CURRENT_USER, path, WRITE_DAC);
    ASSERT_TRUE(owned.has_value());
    ASSERT_EQ(::RegSetKeySecurity(owned->get(), DACL_SECURITY_INFORMATION, &closed), ERROR_SUCCESS);

    const knowledge::RunKeyLocation closed_location{"HKCU", path, "", "", "Closed Run", model::Scope::user, ""};
    const knowledge::RunKeyLocation missing_location{"HKCU",        path + "\\Nope",    "", "",
                                                     "Missing Run", model::Scope::user, ""};
    ProgramFacts programs;
    model::ScanResult result;
    scan_run_keys({closed_location, missing_location}, false, programs, result);

    SECURITY_DESCRIPTOR open_again{};
    ASSERT_TRUE(::InitializeSecurityDescriptor(&open_again, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&open_again, TRUE, nullptr, FALSE));
    ASSERT_EQ(::RegSetKeySecurity(owned->get(), DACL_SECURITY_INFORMATION, &open_again), ERROR_SUCCESS);

    EXPECT_TRUE(result.items.empty());
    EXPECT_EQ(result.notes,
              std::vector<std::string>{"Closed Run: HKCU\\" + path + " could not be read (Windows error 5)."});
}

}  // namespace
}  // namespace qm::windows
