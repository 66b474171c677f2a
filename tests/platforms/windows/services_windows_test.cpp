// The services source and switching a service's start type, against the
// real registry and service manager of the Wine prefix. Every service a test
// creates (through CreateServiceW) has a random name and is deleted when the
// test ends. Switching runs the stand-in sc.exe built beside the test program,
// since Wine's own "sc config" changes nothing.
#include <algorithm>
#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <windows.h>
#include <winsvc.h>

#include "json/json.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "os/windows/handle.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/service_record.h"
#include "platforms/windows/services.h"
#include "platforms/windows/system_test_support.h"
#include "os/windows/wide.h"
#include "support/run_program.h"
#include "formats/task_definition.h"
#include "util/text.h"
#include "formats/xml_text.h"

namespace qm::windows {
namespace {

using test::beside_tests;
using test::TestServices;

const std::string services_key = "SYSTEM\\CurrentControlSet\\Services";

std::wstring wide(std::string_view text) { return os::windows::to_wide(text); }

std::string service_key(const std::string& name) { return services_key + "\\" + name; }

std::string dword_bytes(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof(value)); }

void delete_value(const std::string& path, const wchar_t* name) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path).c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ::RegDeleteValueW(key, name);
    ::RegCloseKey(key);
}

std::optional<DWORD> registry_number(const std::string& path, const wchar_t* name) {
    auto [type, bytes] = test::read_value(HKEY_LOCAL_MACHINE, path, 0, name);
    if (type != REG_DWORD || bytes.size() != 4) return std::nullopt;
    DWORD value = 0;
    std::memcpy(&value, bytes.data(), 4);
    return value;
}

const model::StartupItem* by_service(const model::ScanResult& scan, const std::string& name) {
    auto it = std::find_if(scan.items.begin(), scan.items.end(),
                           [&](const model::StartupItem& item) { return item.spec_value("short") == name; });
    return it == scan.items.end() ? nullptr : &*it;
}

model::ScanResult scan(bool admin = true) {
    ProgramFacts programs;
    model::ScanResult result;
    scan_services(admin, programs, result);
    return result;
}

class ServicesScan : public ::testing::Test {
protected:
    TestServices services;
    test::RegistryWriter registry;  // declared after the services, so its values go first
    const std::string program = test::child_tool_path();

    void set_number(const std::string& name, const wchar_t* value, DWORD number) {
        registry.write(HKEY_LOCAL_MACHINE, service_key(name), 0, value, REG_DWORD, dword_bytes(number));
    }
};

TEST_F(ServicesScan, ListsWin32ServicesWithTheirStartTypes) {
    struct Case {
        std::string suffix;
        DWORD type;
        std::optional<DWORD> start;  // written into the key; nothing: the value is removed
        bool delayed;
        std::string state_text;  // empty: not listed
    };
    const std::vector<Case> cases = {
        {"own-auto", SERVICE_WIN32_OWN_PROCESS, 2, false, "Automatic"},
        {"own-delayed", SERVICE_WIN32_OWN_PROCESS, 2, true, "Automatic (delayed)"},
        {"own-demand", SERVICE_WIN32_OWN_PROCESS, 3, true, "Manual (on demand)"},
        {"share-disabled", SERVICE_WIN32_SHARE_PROCESS, 4, false, "Disabled"},
        {"own-boot", SERVICE_WIN32_OWN_PROCESS, 0, false, "Start type 0"},
        {"own-system", SERVICE_WIN32_OWN_PROCESS, 1, false, "Start type 1"},
        {"own-start5", SERVICE_WIN32_OWN_PROCESS, 5, false, ""},
        {"own-nostart", SERVICE_WIN32_OWN_PROCESS, std::nullopt, false, ""},
        {"interactive", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, 3, false, "Manual (on demand)"},
        {"driver", SERVICE_KERNEL_DRIVER, 3, false, ""},
        {"user-template", 0x50, 3, false, ""},
        {"user-instance", 0x90, 3, false, ""},
    };
    std::vector<std::string> names;
    for (const Case& c : cases) {
        const DWORD created_type = c.type & ~DWORD{0xC0};  // the manager makes no per-user services
        const std::string name = services.create(c.suffix, created_type, SERVICE_DEMAND_START, program);
        names.push_back(name);
        // The manager refuses boot and system starts, and per-user types, for
        // such services, so these are written as an edited registry would hold them.
        if (c.start) {
            set_number(name, L"Start", *c.start);
        } else {
            delete_value(service_key(name), L"Start");
        }
        set_number(name, L"Type", c.type);
        if (c.delayed) set_number(name, L"DelayedAutostart", 1);
    }

    const model::ScanResult result = scan(false);
    EXPECT_TRUE(result.notes.empty());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].suffix);
        const model::StartupItem* item = by_service(result, names[i]);
        ASSERT_EQ(item != nullptr, !cases[i].state_text.empty());
        if (item == nullptr) continue;
        EXPECT_EQ(item->id(), "service|machine|Services|" + names[i]);  // no display name: the service's own
        EXPECT_EQ(item->kind_label, "Windows service");
        EXPECT_EQ(item->state_text, cases[i].state_text);
        EXPECT_EQ(item->enabled, cases[i].start == 2u);
        EXPECT_FALSE(item->running);
        EXPECT_EQ(item->spec_value("start"), std::to_string(*cases[i].start));
        EXPECT_EQ(item->spec_value("delayed"), cases[i].delayed ? "1" : "0");
        EXPECT_EQ(item->spec_value("pid"), "0");
        EXPECT_EQ(item->toggle, model::Toggle::admin);
        EXPECT_EQ(item->command, program);
        EXPECT_EQ(item->exe, program);
        EXPECT_EQ(item->origin, model::Origin::installed_program);
    }
    const model::ScanResult as_admin = scan(true);
    ASSERT_NE(by_service(as_admin, names[0]), nullptr);
    EXPECT_EQ(by_service(as_admin, names[0])->toggle, model::Toggle::ok);
}

TEST_F(ServicesScan, SharedProcessServiceIsItsLibrary) {
    const std::string hosted = services.create("hosted", SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START,
                                               "%SystemRoot%\\System32\\svchost.exe -k qmtest");
    registry.own_key(HKEY_LOCAL_MACHINE, service_key(hosted) + "\\Parameters");
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(hosted) + "\\Parameters", 0, L"ServiceDll",
                        L"%SystemRoot%\\System32\\qmtest.dll", REG_EXPAND_SZ);
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(hosted), 0, L"Description", L"Hosts the test library");
    // A program of its own that happens to have a Parameters key: its library
    // value means nothing.
    const std::string own = services.create("own", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                            "\"" + program + "\" --serve", {}, "Own test service");
    registry.own_key(HKEY_LOCAL_MACHINE, service_key(own) + "\\Parameters");
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(own) + "\\Parameters", 0, L"ServiceDll", L"C:\\other.dll");

    const model::ScanResult result = scan();
    const std::string library = os::get_env("SystemRoot").value_or("C:\\windows") + "\\System32\\qmtest.dll";
    const model::StartupItem* item = by_service(result, hosted);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->exe, library);
    EXPECT_TRUE(item->command.ends_with("svchost.exe -k qmtest (library: " + library + ")")) << item->command;
    EXPECT_EQ(item->description, "Hosts the test library");
    EXPECT_EQ(item->state_text, "Automatic");

    item = by_service(result, own);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->name, "Own test service");
    EXPECT_EQ(item->command, "\"" + program + "\" --serve");
    EXPECT_EQ(item->exe, program);
}

TEST_F(ServicesScan, ShownNamesFallBackToTheServiceName) {
    const std::string indirect = services.create("indirect", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program);
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(indirect), 0, L"DisplayName",
                        L"@%SystemRoot%\\system32\\qm-missing.dll,-100");
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(indirect), 0, L"Description",
                        L"@%SystemRoot%\\system32\\qm-missing.dll,-101");
    const std::string empty = services.create("empty", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program);
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(empty), 0, L"DisplayName", L"");
    // Two services showing the same name would be one item to the engine.
    const std::string twin_a = services.create("twin-a", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program);
    const std::string twin_b = services.create("twin-b", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program);
    const std::wstring twin_name = wide(services.tag + " twin");
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(twin_a), 0, L"DisplayName", twin_name);
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(twin_b), 0, L"DisplayName", twin_name);

    const model::ScanResult result = scan();
    ASSERT_NE(by_service(result, indirect), nullptr);
    EXPECT_EQ(by_service(result, indirect)->name, indirect);
    EXPECT_EQ(by_service(result, indirect)->description, "");
    ASSERT_NE(by_service(result, empty), nullptr);
    EXPECT_EQ(by_service(result, empty)->name, empty);
    ASSERT_NE(by_service(result, twin_a), nullptr);
    ASSERT_NE(by_service(result, twin_b), nullptr);
    EXPECT_EQ(by_service(result, twin_a)->name, services.tag + " twin (" + twin_a + ")");
    EXPECT_EQ(by_service(result, twin_b)->name, services.tag + " twin (" + twin_b + ")");
    EXPECT_EQ(by_service(result, twin_b)->spec_value("short"), twin_b);
    // Told apart, it keeps what the scan found about it.
    EXPECT_EQ(by_service(result, twin_b)->changed.what, "the service's settings were written");
    EXPECT_NE(by_service(result, twin_b)->changed.time, 0);
}

TEST_F(ServicesScan, DependentsAreTheActiveServicesThatNeedIt) {
    const std::string base = services.create("base", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program);
    const std::string other = services.create("other", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program);
    const std::string automatic = services.create("auto", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, program,
                                                  {base, to_lower_ascii(base)}, services.tag + " B automatic");
    const std::string delayed =
        services.create("delayed", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, program,
                        {to_lower_ascii(base), other, "QmNoSuchService"}, services.tag + " A delayed");
    set_number(delayed, L"DelayedAutostart", 1);
    services.create("manual", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program, {base});
    services.create("disabled", SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED, program, {base, other});

    const model::ScanResult result = scan();
    ASSERT_NE(by_service(result, base), nullptr);
    EXPECT_EQ(by_service(result, base)->dependents,
              (std::vector<std::string>{services.tag + " A delayed", services.tag + " B automatic"}));
    ASSERT_NE(by_service(result, other), nullptr);
    EXPECT_EQ(by_service(result, other)->dependents, std::vector<std::string>{services.tag + " A delayed"});
    ASSERT_NE(by_service(result, automatic), nullptr);
    EXPECT_TRUE(by_service(result, automatic)->dependents.empty());
}

// A service key's values are read with one enumeration; each reads as asking
// for it by name did: names in any case, numbers only as REG_DWORD of four
// bytes, texts as REG_SZ or REG_EXPAND_SZ (expanded), dependencies as a list
// or one text, and data longer than the first buffer whole.
TEST_F(ServicesScan, ValuesReadWhateverTheirSpellingTypeAndLength) {
    const std::string base = services.create("base", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program);
    const std::string odd = services.create("odd", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, program);
    delete_value(service_key(odd), L"ImagePath");
    delete_value(service_key(odd), L"DisplayName");
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(odd), 0, L"imagepath", L"%SystemRoot%\\qm-odd.exe --x",
                        REG_EXPAND_SZ);
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(odd), 0, L"DISPLAYNAME", wide(services.tag + " odd"));
    const std::wstring long_text(3000, L'd');
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(odd), 0, L"Description", long_text);
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(odd), 0, L"DependOnService", wide(base));
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(odd), 0, L"DelayedAutostart", L"1");
    const std::string binary = services.create("binary", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, program);
    registry.write(HKEY_LOCAL_MACHINE, service_key(binary), 0, L"DelayedAutostart", REG_BINARY, dword_bytes(1));
    const std::string text_type = services.create("text-type", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, program);
    registry.write_text(HKEY_LOCAL_MACHINE, service_key(text_type), 0, L"Type", L"16");
    const std::string short_start = services.create("short", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, program);
    registry.write(HKEY_LOCAL_MACHINE, service_key(short_start), 0, L"Start", REG_DWORD, std::string("\2\0", 2));

    const model::ScanResult result = scan();
    const model::StartupItem* item = by_service(result, odd);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->name, services.tag + " odd");
    EXPECT_EQ(item->command, os::get_env("SystemRoot").value_or("") + "\\qm-odd.exe --x");
    EXPECT_EQ(item->description, os::windows::to_utf8(long_text));
    EXPECT_EQ(item->spec_value("delayed"), "0");
    ASSERT_NE(by_service(result, base), nullptr);
    EXPECT_EQ(by_service(result, base)->dependents, std::vector<std::string>{services.tag + " odd"});
    ASSERT_NE(by_service(result, binary), nullptr);
    EXPECT_EQ(by_service(result, binary)->state_text, "Automatic");
    EXPECT_EQ(by_service(result, text_type), nullptr);
    EXPECT_EQ(by_service(result, short_start), nullptr);
}

// A key unchanged since a scan kept its values in the data folder's record
// is read from the record for a day; a key written since, or just before
// that scan, is read again; a key that can no longer be opened is counted as
// before; a damaged record reads as empty and is rebuilt.
TEST_F(ServicesScan, AKeyUnchangedSinceTheRecordWasKeptIsReadFromIt) {
    const std::string name =
        services.create("kept", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program, {}, services.tag + " kept");
    const auto written = [&] {
        RegistryResult<RegistryKey> all = open_key(HKEY_LOCAL_MACHINE, services_key, KEY_READ);
        for (const Subkey& key : enumerate_subkeys_with_times(all->get())) {
            if (key.name == name) return key.written;
        }
        return std::uint64_t{0};
    };
    test::ScratchFolder data;
    const auto scan_at = [&](std::uint64_t now) {
        ServiceRecord record(data.path(), now);
        ProgramFacts programs;
        model::ScanResult result;
        scan_services(true, programs, result, &record);
        record.save();
        return result;
    };
    const auto shown_name = [&](const model::ScanResult& result) {
        const model::StartupItem* item = by_service(result, name);
        return item == nullptr ? std::string("(not listed)") : item->name;
    };
    const std::uint64_t later = file_time_now() + 10 * settle_time;

    EXPECT_EQ(shown_name(scan_at(file_time_now())), services.tag + " kept");
    EXPECT_EQ(ServiceRecord(data.path(), later).find(name, written()), nullptr) << "written just before the scan";
    scan_at(later);
    {
        ServiceRecord planted(data.path(), later);
        const KeptValues* kept = planted.find(name, written());
        ASSERT_NE(kept, nullptr);
        KeptValues changed = *kept;
        changed["DisplayName"] = RawValue{REG_SZ, test::utf16_bytes(L"Planted")};
        planted.store(name, written(), changed);
        planted.save();
    }
    EXPECT_EQ(shown_name(scan_at(later)), "Planted") << "the unchanged key's values are not read";
    EXPECT_EQ(shown_name(scan_at(later + trust_time)), services.tag + " kept") << "read a day before";

    registry.write_text(HKEY_LOCAL_MACHINE, service_key(name), 0, L"DisplayName", wide(services.tag + " changed"));
    EXPECT_EQ(shown_name(scan_at(later)), services.tag + " changed");
    {
        test::KeySecurity closed(HKEY_LOCAL_MACHINE, service_key(name), 0, L"D:P");
        const model::ScanResult result = scan_at(later);
        EXPECT_EQ(shown_name(result), "(not listed)");
        EXPECT_EQ(result.notes, std::vector<std::string>{"1 service key(s) could not be read and are not listed."});
    }
    const std::string record_file = os::join_path(data.path(), ServiceRecord::file_name);
    ASSERT_TRUE(os::write_file_replace(record_file, "{\"format\":1,\"keys\":[[").has_value());
    EXPECT_EQ(shown_name(scan_at(later)), services.tag + " changed") << "damaged record";
    EXPECT_NE(ServiceRecord(data.path(), later).find(name, written()), nullptr) << "rebuilt";
}

TEST_F(ServicesScan, ManagerStatesAgreeWithTheScan) {
    const std::string created =
        services.create("state", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, program, {}, services.tag + " state");
    const ServiceStates states = read_service_states();
    ASSERT_TRUE(states.contains(to_lower_ascii(created)));
    EXPECT_EQ(states.at(to_lower_ascii(created)).display_name, services.tag + " state");
    EXPECT_EQ(states.at(to_lower_ascii(created)).state, static_cast<std::uint32_t>(SERVICE_STOPPED));

    const model::ScanResult result = scan();
    std::size_t running = 0;
    for (const model::StartupItem& item : result.items) {
        const auto known = states.find(to_lower_ascii(item.spec_value("short")));
        if (known == states.end()) continue;
        SCOPED_TRACE(item.spec_value("short"));
        EXPECT_EQ(item.running, known->second.state == SERVICE_RUNNING);
        EXPECT_EQ(item.spec_value("pid"), std::to_string(known->second.pid));
        if (item.running) {
            ++running;
            EXPECT_NE(item.spec_value("pid"), "0");
        }
    }
    // Wine runs a few services of its own in every prefix (RPC, Plug and Play).
    EXPECT_GT(running, 0u);
}

TEST(ServicesRegistryList, DecodesNulSeparatedNames) {
    auto bytes = [](std::wstring_view text) { return test::utf16_bytes(text, false); };
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {bytes(std::wstring(L"\0\0", 2)), {}},
        {bytes(std::wstring(L"RpcSs\0\0", 7)), {"RpcSs"}},
        {bytes(std::wstring(L"RpcSs\0Tcpip\0\0", 13)), {"RpcSs", "Tcpip"}},
        {bytes(std::wstring(L"RpcSs\0Tcpip", 11)), {"RpcSs", "Tcpip"}},  // no ending NULs
        {bytes(std::wstring(L"A\0\0B\0\0", 6)), {"A"}},                  // an empty text ends the list
        {bytes(std::wstring(L"Caf\u00e9\0\0", 6)), {"Caf\u00e9"}},
        {bytes(std::wstring(L"AB", 2)) + "x", {"AB"}},           // odd last byte
        {std::string("\x00\xD8\x00\x00", 4), {"\xEF\xBF\xBD"}},  // a lone surrogate
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(decode_registry_list(input), expected) << input.size() << " bytes";
    }
    // Every cut of a list decodes without reading past its end.
    const std::string list = bytes(std::wstring(L"First\0Second\0\0", 14));
    for (std::size_t length = 0; length <= list.size(); ++length) {
        EXPECT_LE(decode_registry_list(std::string_view(list).substr(0, length)).size(), 2u);
    }
}

// Switching through the stand-in sc.exe, which records each call.
class ServicesSwitch : public ::testing::Test {
protected:
    TestServices services;
    test::RegistryWriter registry;
    test::ScratchFolder scratch;
    const std::string log = scratch / "sc-calls.txt";
    const std::string data_folder = scratch / "data";
    const std::string saved_path = os::join_path(data_folder, "saved.json");
    std::string fail_with;  // QUILLMOOR_STANDIN_FAIL for the next switches

    os::ToolRunner runner() const {
        return [this](const os::ToolRun& run) {
            os::ToolRun changed = run;
            changed.extra_environment.emplace_back("QUILLMOOR_STANDIN_LOG", log);
            if (!fail_with.empty()) changed.extra_environment.emplace_back("QUILLMOOR_STANDIN_FAIL", fail_with);
            return os::run_tool(changed);
        };
    }

    model::StartupItem item_of(const std::string& name) {
        const model::ScanResult result = scan();
        const model::StartupItem* item = by_service(result, name);
        EXPECT_NE(item, nullptr) << name;
        return item != nullptr ? *item
                               : model::StartupItem(model::ItemKind::service, "", model::Scope::machine, "", "");
    }

    Result<model::ChangeOutcome> turn(const model::StartupItem& item, bool on, bool stop_now = false) {
        return switch_service(item, on, stop_now, data_folder, runner());
    }

    std::string calls() const { return os::read_file(log).value_or(""); }

    json::JsonValue saved() const {
        return json::parse(os::read_file(saved_path).value_or("null")).value_or(json::JsonValue());
    }

    std::string service(std::string_view suffix, DWORD start, bool delayed = false) {
        const std::string name = services.create(suffix, SERVICE_WIN32_OWN_PROCESS, start, test::child_tool_path(), {},
                                                 services.tag + " " + std::string(suffix));
        if (delayed) {
            registry.write(HKEY_LOCAL_MACHINE, service_key(name), 0, L"DelayedAutostart", REG_DWORD, dword_bytes(1));
        }
        return name;
    }
};

TEST_F(ServicesSwitch, OffRemembersTheStartTypeAndOnRestoresIt) {
    const std::string delayed = service("delayed", SERVICE_AUTO_START, true);
    const std::string manual = service("manual", SERVICE_DEMAND_START);

    Result<model::ChangeOutcome> off = turn(item_of(delayed), false);
    ASSERT_TRUE(off.has_value()) << off.error();
    EXPECT_EQ(off->message, services.tag + " delayed is switched off for the next start.");
    EXPECT_TRUE(off->notes.empty());
    EXPECT_EQ(calls(), "config " + delayed + " start= disabled\n");
    EXPECT_EQ(registry_number(service_key(delayed), L"Start"), 4u);
    ASSERT_TRUE(turn(item_of(manual), false).has_value());
    EXPECT_EQ(json::write(saved()), "{\"" + delayed + "\":{\"start\":\"2\",\"delayed\":\"1\"},\"" + manual +
                                        "\":{\"start\":\"3\",\"delayed\":\"0\"}}");

    // Switching off again keeps what was remembered before the first time.
    ASSERT_TRUE(turn(item_of(delayed), false).has_value());
    EXPECT_EQ(json::get_text(*json::get(saved(), delayed), "start"), "2");

    const model::StartupItem disabled = item_of(delayed);
    EXPECT_FALSE(disabled.enabled);
    EXPECT_EQ(disabled.state_text, "Disabled");
    Result<model::ChangeOutcome> on = turn(disabled, true);
    ASSERT_TRUE(on.has_value()) << on.error();
    EXPECT_EQ(on->message, services.tag + " delayed will start automatically at boot.");
    EXPECT_EQ(registry_number(service_key(delayed), L"Start"), 2u);
    EXPECT_EQ(item_of(delayed).state_text, "Automatic (delayed)");
    EXPECT_EQ(json::get(saved(), delayed), nullptr);

    // A service that started on demand is switched on to start at boot.
    ASSERT_TRUE(turn(item_of(manual), true).has_value());
    EXPECT_TRUE(calls().ends_with("config " + manual + " start= auto\n")) << calls();
    EXPECT_EQ(item_of(manual).state_text, "Automatic");
    EXPECT_EQ(json::write(saved()), "{}");
}

TEST_F(ServicesSwitch, WantedStartTypeWinsOverTheRememberedOne) {
    const std::string name = service("wanted", SERVICE_DISABLED);
    ASSERT_TRUE(os::create_folders(data_folder).has_value());
    ASSERT_TRUE(
        os::write_file_replace(saved_path, "{\"" + name + "\":{\"start\":\"3\",\"delayed\":\"0\"}}").has_value());
    model::StartupItem item = item_of(name);
    item.set_spec("want_start", "2");
    item.set_spec("want_delayed", "1");
    ASSERT_TRUE(turn(item, true).has_value());
    EXPECT_EQ(calls(), "config " + name + " start= delayed-auto\n");
    EXPECT_EQ(item_of(name).state_text, "Automatic (delayed)");

    // Without a wish or a remembered entry, "on" means automatic.
    const std::string plain = service("plain", SERVICE_DISABLED);
    ASSERT_TRUE(turn(item_of(plain), true).has_value());
    EXPECT_TRUE(calls().ends_with("config " + plain + " start= auto\n")) << calls();
}

TEST_F(ServicesSwitch, StoppingNowIsAttemptedAfterSwitchingOff) {
    const std::string name = service("stop", SERVICE_AUTO_START);
    // The service is not running, so the stop fails; the switch stands.
    Result<model::ChangeOutcome> off = turn(item_of(name), false, true);
    ASSERT_TRUE(off.has_value()) << off.error();
    EXPECT_EQ(off->message, services.tag +
                                " stop is switched off for the next start. It could not be stopped now "
                                "and keeps running until the next restart.");
    EXPECT_EQ(calls(), "config " + name + " start= disabled\nstop " + name + "\n");
    // Switching on never stops anything.
    ASSERT_TRUE(turn(item_of(name), true, true).has_value());
    EXPECT_TRUE(calls().ends_with("start= auto\n"));
}

TEST_F(ServicesSwitch, FailuresOfTheToolAreWorded) {
    const std::string name = service("fails", SERVICE_AUTO_START);
    const model::StartupItem item = item_of(name);
    fail_with = "config 5 Access is denied.";
    Result<model::ChangeOutcome> refused = turn(item, false);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), "Windows refused to change the service.");
    EXPECT_EQ(refused.error().kind, ErrorKind::needs_admin);

    fail_with = "config 1060 [SC] OpenService FAILED 1060";
    Result<model::ChangeOutcome> failed = turn(item, true);
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error(), "Windows could not change the service (code 1060). [SC] OpenService FAILED 1060");
    EXPECT_EQ(registry_number(service_key(name), L"Start"), 2u);

    // A tool that cannot be started has no exit code.
    const os::ToolRunner missing = [](const os::ToolRun& run) {
        os::ToolRun changed = run;
        changed.program = beside_tests("qm-no-such-tool.exe");
        return os::run_tool(changed);
    };
    Result<model::ChangeOutcome> not_started = switch_service(item, true, false, data_folder, missing);
    ASSERT_FALSE(not_started.has_value());
    EXPECT_TRUE(not_started.error().message.starts_with("Windows could not change the service (code -1). "))
        << not_started.error();

    // An item without its service name is refused before anything runs.
    const std::string before = calls();
    model::StartupItem nameless(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                                "Nameless");
    EXPECT_FALSE(switch_service(nameless, false, false, data_folder, runner()).has_value());
    EXPECT_EQ(calls(), before);
}

TEST_F(ServicesSwitch, RememberedStartTypesSurviveTroubleWithTheirFile) {
    const std::string name = service("file", SERVICE_AUTO_START);
    fail_with = "config 1 not changed";  // only the remembering matters here

    // Content that is not an object is kept beside, and a new file begun.
    ASSERT_TRUE(os::create_folders(data_folder).has_value());
    ASSERT_TRUE(os::write_file_replace(saved_path, "[1,2").has_value());
    EXPECT_FALSE(turn(item_of(name), false).has_value());
    EXPECT_EQ(json::get_text(*json::get(saved(), name), "start"), "2");
    std::string kept;
    for (const os::FolderEntry& entry : os::list_folder(data_folder).value_or(std::vector<os::FolderEntry>{})) {
        if (entry.name.starts_with("saved.json.damaged-")) kept = os::join_path(data_folder, entry.name);
    }
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(os::read_file(kept).value_or(""), "[1,2");

    // A file that cannot be read is left alone; the switch goes on with a note.
    ASSERT_TRUE(os::remove_file(saved_path).has_value());
    ASSERT_TRUE(os::create_folders(saved_path).has_value());
    fail_with.clear();
    Result<model::ChangeOutcome> off = turn(item_of(name), false);
    ASSERT_TRUE(off.has_value()) << off.error();
    ASSERT_EQ(off->notes.size(), 1u);
    EXPECT_TRUE(off->notes[0].starts_with("The earlier start type could not be remembered")) << off->notes[0];
    EXPECT_EQ(os::path_kind(saved_path), os::PathKind::folder);
    ASSERT_TRUE(os::remove_tree(saved_path).has_value());
    ASSERT_TRUE(turn(item_of(name), true).has_value());
}

TEST_F(ServicesSwitch, SwitchesAtOnceKeepEveryRememberedEntry) {
    std::vector<model::StartupItem> items;
    for (int i = 0; i < 6; ++i) items.push_back(item_of(service("many" + std::to_string(i), SERVICE_AUTO_START)));
    fail_with = "config 1 not changed";
    std::vector<std::thread> threads;
    for (const model::StartupItem& item : items) threads.emplace_back([&, item] { (void)turn(item, false); });
    for (std::thread& thread : threads) thread.join();
    const json::JsonValue remembered = saved();
    for (const model::StartupItem& item : items) EXPECT_NE(json::get(remembered, item.spec_value("short")), nullptr);
}

}  // namespace
}  // namespace qm::windows

namespace qm::windows {
namespace {

using test::newest_seq;
using test::TestServices;

TEST(ServiceAndTaskCommands, DisableEnableAndUndoThroughTheRealProgram) {
    TestServices services;
    const std::string base =
        services.create("base", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, test::child_tool_path());
    const std::string needs_base =
        services.create("user", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, test::child_tool_path(), {base});
    const std::string tasks_folder = test::system_tasks_folder();
    const std::string task = "QmTask" + test::random_hex(4);
    const std::string task_file = os::join_path(tasks_folder, task);
    ASSERT_TRUE(os::create_folders(tasks_folder).has_value());
    ASSERT_TRUE(os::write_file_replace(task_file, test::logon_task_document()).has_value());
    struct RemoveAtEnd {
        std::string path;
        ~RemoveAtEnd() { (void)os::remove_file(path); }
    } remove_task{task_file};

    // The test build finds the stand-in sc.exe and schtasks.exe in the tests' folder.
    const test::ProgramBesideStandIns program;
    auto run = [&](const std::vector<std::string>& arguments) { return program.run(arguments); };
    auto start_of = [&](const std::string& name) { return registry_number(service_key(name), L"Start"); };
    auto task_enabled = [&] {
        Result<std::string> bytes = os::read_file(task_file);
        return bytes && formats::read_task_definition(formats::decode_document(*bytes)).enabled;
    };

    test::ProgramRun listed = run({"list", "--filter", services.tag});
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_NE(listed.out.find(base), std::string::npos) << listed.out;
    test::ProgramRun assessed = run({"assess", base});
    ASSERT_EQ(assessed.exit_code, 0) << assessed.err;
    EXPECT_NE(assessed.out.find(needs_base), std::string::npos) << assessed.out;  // its dependent is named

    // The service: off, on, and the switch on undone.
    test::ProgramRun off = run({"disable", base, "--yes"});
    ASSERT_EQ(off.exit_code, 0) << off.out << off.err;
    EXPECT_EQ(start_of(base), 4u);
    test::ProgramRun on = run({"enable", base, "--yes"});
    ASSERT_EQ(on.exit_code, 0) << on.out << on.err;
    EXPECT_EQ(start_of(base), 2u);
    std::string seq = newest_seq(run({"history"}).out, "enable", base);
    ASSERT_FALSE(seq.empty());
    test::ProgramRun undone = run({"undo", seq, "--yes"});
    ASSERT_EQ(undone.exit_code, 0) << undone.out << undone.err;
    EXPECT_EQ(start_of(base), 4u);

    // The task: the same through schtasks /Change.
    test::ProgramRun task_off = run({"disable", task, "--yes"});
    ASSERT_EQ(task_off.exit_code, 0) << task_off.out << task_off.err;
    EXPECT_FALSE(task_enabled());
    test::ProgramRun task_on = run({"enable", task, "--yes"});
    ASSERT_EQ(task_on.exit_code, 0) << task_on.out << task_on.err;
    EXPECT_TRUE(task_enabled());
    seq = newest_seq(run({"history"}).out, "enable", task);
    ASSERT_FALSE(seq.empty());
    test::ProgramRun task_undone = run({"undo", seq, "--yes"});
    ASSERT_EQ(task_undone.exit_code, 0) << task_undone.out << task_undone.err;
    EXPECT_FALSE(task_enabled());
}

}  // namespace
}  // namespace qm::windows
