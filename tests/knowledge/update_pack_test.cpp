#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "knowledge/assessment.h"
#include "knowledge/builtin_pack.h"
#include "knowledge/knowledge_store.h"
#include "knowledge/pack_files.h"
#include "os/files.h"
#include "support/run_program.h"
#include "util/sha256.h"
#include "util/text.h"

namespace qm {
namespace {

struct UpdateFiles {
    std::string pack;
    std::string checksum;
};

std::optional<UpdateFiles> update_files() {
    std::optional<std::string> pack = test::source_file(test::update_pack_path);
    std::optional<std::string> checksum = test::source_file(std::string(test::update_pack_path) + ".sha256");
    if (!pack || !checksum) return std::nullopt;
    return UpdateFiles{*pack, *checksum};
}

// A service of the operating system as the scan reports it.
model::StartupItem system_service(const std::string& key, const std::string& display) {
    model::StartupItem item(model::ItemKind::service, "Windows service", model::Scope::machine, "Services", display);
    item.set_spec("short", key);
    item.origin = model::Origin::operating_system;
    item.exe = "C:\\Windows\\System32\\svchost.exe";
    return item;
}

// The lower-cased bases of the per-user services, whose instances carry "_{hex}".
std::set<std::string> per_user_bases() {
    std::set<std::string> bases;
    for (const std::string& base :
         test::list_lines(test::source_file("tests/knowledge/per_user_services.txt").value_or("")))
        bases.insert(to_lower_ascii(base));
    return bases;
}

// Services of a default install whose name alone is no sign of Windows: their
// programs live under Program Files rather than the Windows folder (Edge's,
// Defender for Endpoint's sensor, Media Player's sharing, the update health
// tools, the mixed reality runtime), so doubting every such program would
// doubt Windows's own; or their rule is a word other makers use too (xbl*).
// The same name on any other program is doubted.
bool kept_elsewhere(const std::string& key) {
    static constexpr std::array<std::string_view, 9> names = {
        "edgeupdate", "edgeupdatem", "microsoftedgeelevationservice", "mixedrealityopenxrsvc", "sense", "uhssvc",
        "wmpnetworksvc", "xblauthmanager", "xblgamesave"};
    return std::find(names.begin(), names.end(), to_lower_ascii(key)) != names.end();
}

// Whether the assessment doubts a copy of the service whose program is not
// where Windows keeps its own.
bool doubts_impostor(const knowledge::Assessor& assessor, model::StartupItem item) {
    item.origin = model::Origin::installed_program;
    item.exe = "C:\\ProgramData\\Other\\" + to_lower_ascii(item.spec_value("short")) + ".exe";
    return assessor.assess(item).confidence == model::Confidence::low;
}

TEST(UpdatePack, IsNewerThanTheBuiltInPackAndItsPublishedChecksumMatches) {
    std::optional<UpdateFiles> files = update_files();
    if (!files) GTEST_SKIP() << "the source tree is not reachable";
    Result<knowledge::KnowledgePack> pack = knowledge::parse_pack(files->pack);
    ASSERT_TRUE(pack.has_value()) << pack.error();
    EXPECT_GT(knowledge::compare_versions(pack->version, knowledge::builtin_pack().version), 0) << pack->version;
    EXPECT_FALSE(pack->published.empty());
    EXPECT_FALSE(pack->description.empty());
    // The checksum file is what the update compares: its first 64 characters.
    ASSERT_GE(files->checksum.size(), 64u);
    EXPECT_EQ(files->checksum.substr(0, 64), sha256_hex(files->pack));
    EXPECT_FALSE(files->pack.starts_with("\xEF\xBB\xBF"));
}

TEST(UpdatePack, HostedBesideItsChecksumItInstallsThroughAnUpdateAndAgainThroughAnImport) {
    std::optional<UpdateFiles> files = update_files();
    if (!files) GTEST_SKIP() << "the source tree is not reachable";
    const std::string address = "https://example.test/quillmoor/knowledge.json";
    std::map<std::string, std::string> served = {{address, files->pack}, {address + ".sha256", files->checksum}};
    os::ToolRunner curl = [&served](const os::ToolRun& run) {
        auto it = served.find(run.arguments.back());
        if (it == served.end()) return os::RunOutput{"", "curl: (22) The requested URL returned error: 404", 22, false};
        return os::RunOutput{it->second, "", 0, false};
    };
    const std::string root = test::make_scratch_folder("update-pack");
    {
        knowledge::KnowledgeStore store(model::data_folder_override(root), curl);
        Result<std::string> report = store.update(address);
        ASSERT_TRUE(report.has_value()) << report.error();
        EXPECT_TRUE(report->starts_with("Updated the knowledge from " + knowledge::builtin_pack().version + " to "))
            << *report;
        EXPECT_TRUE(report->ends_with("Its checksum matched.")) << *report;
        EXPECT_EQ(store.current()->installed_source(), "update " + store.current()->pack_version);
    }
    (void)os::remove_tree(root);

    const std::string other = test::make_scratch_folder("update-pack-import");
    knowledge::KnowledgeStore store(model::data_folder_override(other), curl);
    Result<knowledge::KnowledgePack> imported = store.install(files->pack);
    ASSERT_TRUE(imported.has_value()) << imported.error();
    EXPECT_EQ(store.current()->pack_version, imported->version);
    EXPECT_TRUE(store.current()->notes.empty());
    (void)os::remove_tree(other);
}

// Every service of a default Windows 10 and 11 install gets a judgement once
// the update pack is installed, and a program elsewhere using its name is
// doubted; without the update pack some are unknown.
TEST(UpdatePack, WithTheBuiltInPackEveryDefaultWindowsServiceIsJudged) {
    std::optional<UpdateFiles> files = update_files();
    std::optional<std::string> list = test::source_file("tests/knowledge/default_services.txt");
    if (!files || !list) GTEST_SKIP() << "the source tree is not reachable";
    Result<knowledge::KnowledgePack> update = knowledge::parse_pack(files->pack);
    ASSERT_TRUE(update.has_value()) << update.error();
    const std::string source = "update " + update->version;
    knowledge::Assessor both(knowledge::builtin_pack(), *update, source, "windows");
    knowledge::KnowledgePack none;
    knowledge::Assessor builtin_only(knowledge::builtin_pack(), none, "local", "windows");
    const std::set<std::string> per_user = per_user_bases();

    std::vector<test::DefaultService> services = test::default_services(*list);
    ASSERT_GT(services.size(), 250u);
    std::size_t known_to_builtin = 0;
    for (const test::DefaultService& service : services) {
        const bool instance = per_user.contains(to_lower_ascii(service.key));
        const std::string suffix = instance ? "_4f2a1" : "";
        model::StartupItem item = system_service(service.key + suffix, service.display + suffix);
        model::Assessment judged = both.assess(item);
        EXPECT_NE(judged.level, model::Level::unknown) << service.key;
        EXPECT_NE(judged.confidence, model::Confidence::low) << service.key;
        EXPECT_EQ(doubts_impostor(both, item), !kept_elsewhere(service.key)) << service.key;
        if (builtin_only.assess(item).level != model::Level::unknown) ++known_to_builtin;
    }
    EXPECT_LT(known_to_builtin, services.size()) << "the update pack would add nothing";
    RecordProperty("default_services", static_cast<int>(services.size()));
    RecordProperty("judged_by_builtin_alone", static_cast<int>(known_to_builtin));
}

// The default services of Windows Server with Desktop Experience: those of
// Server 2016 as Microsoft's guidance for it lists them, and those that 2019
// and 2022 add. Each is judged with confidence by some rule, and the same name
// on a program outside the system's folders is doubted.
TEST(UpdatePack, EveryDefaultServiceOfWindowsServerIsJudged) {
    std::optional<UpdateFiles> files = update_files();
    if (!files) GTEST_SKIP() << "the source tree is not reachable";
    Result<knowledge::KnowledgePack> update = knowledge::parse_pack(files->pack);
    ASSERT_TRUE(update.has_value()) << update.error();
    knowledge::Assessor both(knowledge::builtin_pack(), *update, "update " + update->version, "windows");
    const std::set<std::string> per_user = per_user_bases();
    struct Release {
        const char* name;
        std::vector<const char*> keys;
    };
    const std::vector<Release> releases = {
        {"Server 2016",
         {"AxInstSV", "AJRouter", "AppReadiness", "AppIDSvc", "Appinfo", "ALG", "AppMgmt", "AppXSvc", "tzautoupdate",
          "BITS", "BrokerInfrastructure", "BFE", "bthserv", "CDPUserSvc", "CertPropSvc", "ClipSVC", "KeyIso",
          "EventSystem", "COMSysApp", "Browser", "CDPSvc", "DiagTrack", "PimIndexMaintenanceSvc",
          "CoreMessagingRegistrar", "VaultSvc", "CryptSvc", "DsSvc", "DcpSvc", "DcomLaunch",
          "DeviceAssociationService", "DeviceInstall", "DmEnrollmentSvc", "DsmSvc", "DevQueryBroker", "Dhcp", "DPS",
          "WdiServiceHost", "WdiSystemHost", "TrkWks", "MSDTC", "dmwappushservice", "Dnscache", "MapsBroker",
          "embeddedmode", "EFS", "EntAppSvc", "EapHost", "fdPHost", "FDResPub", "lfsvc", "gpsvc", "hidserv",
          "HvHost", "vmickvpexchange", "vmicguestinterface", "vmicshutdown", "vmicheartbeat", "vmicvmsession",
          "vmicrdv", "vmictimesync", "vmicvss", "IKEEXT", "UI0Detect", "SharedAccess", "iphlpsvc", "PolicyAgent",
          "KPSSVC", "KtmRm", "lltdsvc", "LSM", "diagnosticshub.standardcollector.service", "wlidsvc", "AppVClient",
          "MSiSCSI", "NgcSvc", "NgcCtnrSvc", "swprv", "smphost", "NetTcpPortSharing", "Netlogon", "NcbService",
          "Netman", "NcaSvc", "netprofm", "NlaSvc", "NetSetupSvc", "nsi", "CscService", "defragsvc", "PerfHost",
          "pla", "PhoneSvc", "PlugPlay", "WPDBusEnum", "Power", "Spooler", "PrintNotify", "wercplsupport", "PcaSvc",
          "QWAVE", "RmSvc", "RasAuto", "RasMan", "SessionEnv", "TermService", "UmRdpService", "RpcSs", "RpcLocator",
          "RemoteRegistry", "RSoPProv", "RemoteAccess", "RpcEptMapper", "seclogon", "SstpSvc", "SamSs",
          "SensorDataService", "SensrSvc", "SensorService", "LanmanServer", "ShellHWDetection", "SCardSvr",
          "ScDeviceEnum", "SCPolicySvc", "SNMPTRAP", "sppsvc", "sacsvr", "svsvc", "SSDPSRV", "StateRepository",
          "WiaRpc", "StorSvc", "TieringEngineService", "SysMain", "OneSyncSvc", "SENS", "SystemEventsBroker",
          "Schedule", "lmhosts", "TapiSrv", "Themes", "tiledatamodelsvc", "TimeBrokerSvc", "TabletInputService",
          "UsoSvc", "upnphost", "UALSVC", "UserDataSvc", "UnistoreSvc", "UevAgentService", "UserManager", "ProfSvc",
          "vds", "VSS", "WalletService", "Audiosrv", "AudioEndpointBuilder", "WbioSrvc", "FrameServer", "Wcmsvc",
          "WdNisSvc", "WinDefend", "wudfsvc", "WEPHOSTSVC", "WerSvc", "Wecsvc", "EventLog", "MpsSvc", "FontCache",
          "stisvc", "wisvc", "msiserver", "LicenseManager", "Winmgmt", "icssvc", "TrustedInstaller", "WpnService",
          "WpnUserService", "WinRM", "WSearch", "W32Time", "wuauserv", "WinHttpAutoProxySvc", "dot3svc", "wmiApSrv",
          "LanmanWorkstation", "XblAuthManager", "XblGameSave"}},
        {"Server 2019",
         {"BcastDVRUserService", "BluetoothUserService", "BTAGService", "BthAvctpSvc", "camsvc", "CaptureService",
          "cbdhsvc", "ConsentUxUserSvc", "DevicePickerUserSvc", "DevicesFlowUserSvc", "diagsvc", "DoSvc", "DusmSvc",
          "GraphicsPerfSvc", "InstallService", "LxpSvc", "MessagingService", "PrintWorkflowUserSvc", "PushToInstall",
          "SecurityHealthService", "Sense", "SgrmBroker", "ssh-agent", "TokenBroker", "TroubleshootingSvc",
          "WaaSMedicSvc", "WarpJITSvc"}},
        {"Server 2022",
         {"AarSvc", "CredentialEnrollmentManagerUserSvc", "DeviceAssociationBrokerSvc", "DispBrokerDesktopSvc",
          "edgeupdate", "edgeupdatem", "MicrosoftEdgeElevationService"}},
    };
    for (const Release& release : releases) {
        for (const char* key : release.keys) {
            const std::string lower = to_lower_ascii(key);
            const std::string name = per_user.contains(lower) ? std::string(key) + "_4f2a1" : std::string(key);
            model::StartupItem item = system_service(name, name);
            const model::Assessment judged = both.assess(item);
            EXPECT_NE(judged.level, model::Level::unknown) << release.name << " " << key;
            EXPECT_NE(judged.confidence, model::Confidence::low) << release.name << " " << key;
            EXPECT_EQ(doubts_impostor(both, item), !kept_elsewhere(key)) << release.name << " " << key;
        }
    }

    // Services only earlier releases have are judged by the update pack alone.
    for (const char* key : {"Browser", "BthHFSrv", "DcpSvc", "HomeGroupListener", "HomeGroupProvider",
                            "IEEtwCollectorService", "irmon", "KPSSVC", "RSoPProv", "sacsvr", "tiledatamodelsvc",
                            "UALSVC", "UI0Detect", "WcsPlugInService", "WSService", "wudfsvc", "xbgm"}) {
        const model::Assessment judged = both.assess(system_service(key, key));
        EXPECT_NE(judged.level, model::Level::unknown) << key;
        EXPECT_EQ(judged.reasons.front(), "Recognised from the knowledge in update " + update->version + ".") << key;
    }
}

}  // namespace
}  // namespace qm
