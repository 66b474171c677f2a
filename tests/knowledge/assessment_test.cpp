#include <gtest/gtest.h>

#include <random>

#include "knowledge/assessment.h"
#include "knowledge/builtin_pack.h"

namespace qm {
namespace {

knowledge::KnowledgePack pack_with(std::vector<knowledge::KnowledgeRule> windows,
                                   std::vector<knowledge::KnowledgeHint> hints = {}) {
    knowledge::KnowledgePack pack;
    pack.version = "2027.1.1";
    pack.rules[0] = std::move(windows);
    pack.hints = std::move(hints);
    return pack;
}

model::StartupItem service(std::string short_name, std::string display,
                           model::Origin origin = model::Origin::operating_system) {
    model::StartupItem item(model::ItemKind::service, "Windows service", model::Scope::machine, "Services", short_name);
    item.name = std::move(display);
    item.set_spec("short", std::move(short_name));
    item.origin = origin;
    return item;
}

model::StartupItem run_entry(std::string name, model::Origin origin = model::Origin::installed_program) {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            name);
    item.set_spec("short", std::move(name));
    item.origin = origin;
    return item;
}

bool has_reason(const model::Assessment& a, std::string_view reason) {
    return std::find(a.reasons.begin(), a.reasons.end(), reason) != a.reasons.end();
}

TEST(PatternMatching, StarsWidenOnlyAtTheEnds) {
    EXPECT_TRUE(knowledge::pattern_matches("*update*", "googleupdatetaskmachinecore"));
    EXPECT_TRUE(knowledge::pattern_matches("*.updater", "com.google.keystone.updater"));
    EXPECT_FALSE(knowledge::pattern_matches("*.updater", "updater.com"));
    EXPECT_TRUE(knowledge::pattern_matches("onedrive*", "onedrive"));
    EXPECT_FALSE(knowledge::pattern_matches("onedrive*", "myonedrive"));
    EXPECT_TRUE(knowledge::pattern_matches("rpcss", "rpcss"));
    EXPECT_FALSE(knowledge::pattern_matches("rpcss", "rpcssx"));
    EXPECT_TRUE(knowledge::pattern_matches("a*b", "a*b"));  // a star inside is literal
    EXPECT_FALSE(knowledge::pattern_matches("a*b", "axb"));
    EXPECT_FALSE(knowledge::pattern_matches("*x*", ""));
    EXPECT_FALSE(knowledge::pattern_matches("***", "anything"));
}

TEST(CandidateNames, ShortNameDisplayNameProgramAndHexSuffixStripped) {
    model::StartupItem item = service("CDPUserSvc_3f2a1", "Connected Devices Platform User Service_3f2a1");
    item.exe = "C:\\Windows\\System32\\svchost.exe";
    EXPECT_EQ(knowledge::candidate_names(item),
              (std::vector<std::string>{"cdpusersvc_3f2a1", "connected devices platform user service_3f2a1", "svchost",
                                        "cdpusersvc", "connected devices platform user service"}));
    model::StartupItem run = run_entry("My_App_Beta");
    run.exe = "C:\\x\\tool.exe";
    EXPECT_EQ(knowledge::candidate_names(run), (std::vector<std::string>{"my_app_beta", "my_app_beta"}));
}

TEST(RuleIndex, GivesTheSameAnswerAsTryingEveryRuleInOrder) {
    std::mt19937 random(7);
    const std::vector<std::string> cores = {"ab", "abc", "b", "bc", "ca", "cab", "a"};
    std::vector<knowledge::KnowledgeRule> rules;
    for (int i = 0; i < 200; ++i) {
        std::string core = cores[random() % cores.size()];
        switch (random() % 4) {
            case 0:
                rules.push_back({core, "e", model::Level::low});
                break;
            case 1:
                rules.push_back({"*" + core, "e", model::Level::low});
                break;
            case 2:
                rules.push_back({core + "*", "e", model::Level::low});
                break;
            default:
                rules.push_back({"*" + core + "*", "e", model::Level::low});
                break;
        }
    }
    knowledge::RuleIndex index(rules);
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<std::string> names;
        for (int n = 0; n < 3; ++n) {
            std::string name;
            for (unsigned k = random() % 4; k > 0; --k) name += "abc"[random() % 3];
            names.push_back(name);
        }
        const knowledge::KnowledgeRule* expected = nullptr;
        for (const knowledge::KnowledgeRule& rule : rules) {
            for (const std::string& name : names) {
                if (!expected && knowledge::pattern_matches(rule.pattern, name)) expected = &rule;
            }
        }
        ASSERT_EQ(index.find(names), expected);
    }
}

TEST(Assessment, CriticalServiceStaysCriticalButAnOrdinaryEntryIsCappedAtHigh) {
    knowledge::KnowledgePack none;
    knowledge::Assessor assessor(knowledge::builtin_pack(), none, "local", "windows");
    model::Assessment rpc = assessor.assess(service("RpcSs", "Remote Procedure Call (RPC)"));
    EXPECT_EQ(rpc.level, model::Level::critical);
    EXPECT_EQ(rpc.confidence, model::Confidence::high);
    EXPECT_EQ(rpc.reasons[0], "Recognised from the built-in knowledge of well-known startup items.");
    EXPECT_TRUE(has_reason(rpc, "Dependency check: no enabled item requires it."));

    model::Assessment fake = assessor.assess(run_entry("rpcss"));
    EXPECT_EQ(fake.level, model::Level::high);
    EXPECT_TRUE(fake.effect.ends_with("so its name does not prove it is that system component.")) << fake.effect;
    EXPECT_FALSE(has_reason(fake, "Dependency check: no enabled item requires it."));
    EXPECT_TRUE(has_reason(fake, "It applies to this account only."));
}

TEST(Assessment, AnUpdateMayRaiseOrConfirmALevelButNeverLowerIt) {
    knowledge::KnowledgePack lowering = pack_with({{"rpcss", "Harmless.", model::Level::low}});
    model::Assessment kept = knowledge::Assessor(knowledge::builtin_pack(), lowering, "update 2027.1.1", "windows")
                                 .assess(service("RpcSs", "RPC"));
    EXPECT_EQ(kept.level, model::Level::critical);
    EXPECT_EQ(kept.confidence, model::Confidence::high);
    EXPECT_EQ(kept.reasons[0], "Recognised from the built-in knowledge of well-known startup items.");
    EXPECT_EQ(kept.reasons[1], "A knowledge update tried to lower this warning; the built-in level was kept.");

    knowledge::KnowledgePack raising = pack_with({{"spotify*", "Now judged higher.", model::Level::caution}});
    model::Assessment raised = knowledge::Assessor(knowledge::builtin_pack(), raising, "update 2027.1.1", "windows")
                                   .assess(run_entry("Spotify"));
    EXPECT_EQ(raised.level, model::Level::caution);
    EXPECT_EQ(raised.effect, "Now judged higher.");
    EXPECT_EQ(raised.confidence, model::Confidence::medium);
    EXPECT_EQ(raised.reasons[0], "Recognised from the knowledge in update 2027.1.1.");
    EXPECT_TRUE(model::needs_ack(raised.level));
}

TEST(Assessment, HintsAndFallBacksForItemsNoRuleKnows) {
    knowledge::KnowledgePack none;
    knowledge::Assessor assessor(knowledge::builtin_pack(), none, "local", "windows");
    model::Assessment sync =
        assessor.assess(service("AcmeSync", "Acme Sync Service", model::Origin::installed_program));
    EXPECT_EQ(sync.confidence, model::Confidence::medium);
    EXPECT_EQ(sync.reasons[0], "Judged by the word \"sync\" in its name; it is not in the built-in list.");

    model::Assessment background = assessor.assess(service("Zqx", "Zqx", model::Origin::installed_program));
    EXPECT_EQ(background.level, model::Level::low);
    model::Assessment own_sign_in = assessor.assess(run_entry("Zqx"));
    EXPECT_EQ(own_sign_in.level, model::Level::safe);
    model::Assessment system = assessor.assess(service("OemPanelHost", "OEM Panel Host"));
    EXPECT_EQ(system.level, model::Level::unknown);
    EXPECT_EQ(system.confidence, model::Confidence::low);

    // An installed hint wins a tie; a higher built-in one wins otherwise.
    knowledge::KnowledgePack hints = pack_with({}, {{"sync", "Installed word.", model::Level::low}});
    EXPECT_EQ(
        knowledge::Assessor(knowledge::builtin_pack(), hints, "local", "windows").assess(run_entry("AcmeSync")).effect,
        "Installed word.");
    knowledge::KnowledgePack loud = pack_with({}, {{"acme", "Loud.", model::Level::high}});
    EXPECT_EQ(
        knowledge::Assessor(knowledge::builtin_pack(), loud, "local", "windows").assess(run_entry("AcmeSync")).level,
        model::Level::high);
}

// What the platform found about the entry itself weighs on the judgement:
// its warnings are stated after the first reason, an entry it could not read
// is never harmless, a system part's name away from the system's programs is
// doubted, and a rule that matches by a word inside the name is no certainty.
TEST(Assessment, WhatThePlatformFoundAboutTheEntryWeighsOnTheJudgement) {
    knowledge::KnowledgePack none;
    knowledge::Assessor assessor(knowledge::builtin_pack(), none, "local", "windows");

    model::StartupItem warned = run_entry("Zqx");
    warned.warnings = {"First warning.", "Second warning."};
    const model::Assessment stated = assessor.assess(warned);
    ASSERT_GE(stated.reasons.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(stated.reasons.begin() + 1, stated.reasons.begin() + 3), warned.warnings);

    model::StartupItem unread = run_entry("OneDrive");
    unread.unreadable = true;
    EXPECT_EQ(assessor.assess(unread).level, model::Level::unknown);
    EXPECT_EQ(assessor.assess(unread).confidence, model::Confidence::low);

    model::StartupItem impostor = run_entry("SecurityHealth");
    impostor.exe = "C:\\Users\\x\\AppData\\Local\\Temp\\SecurityHealthSystray.exe";
    const model::Assessment doubted = assessor.assess(impostor);
    EXPECT_EQ(doubted.confidence, model::Confidence::low);
    EXPECT_TRUE(has_reason(doubted, "The name is that of a part of the operating system, but its program is " +
                                        impostor.exe +
                                        ", outside the folders where the system keeps its own programs. That is "
                                        "unusual: another program may be using the name."));
    impostor.exe = "C:\\Windows\\System32\\SecurityHealthSystray.exe";
    impostor.origin = model::Origin::operating_system;
    EXPECT_EQ(assessor.assess(impostor).confidence, model::Confidence::high);
    // Names of programs that are not part of the system are not doubted.
    EXPECT_EQ(assessor.assess(run_entry("Spotify")).confidence, model::Confidence::high);

    const model::Assessment updater = assessor.assess(run_entry("AcmeUpdater"));
    EXPECT_EQ(updater.confidence, model::Confidence::medium);
    EXPECT_EQ(updater.reasons[0], "Judged by the word \"update\" in its name, from the built-in knowledge.");

    model::StartupItem task(model::ItemKind::task, "Scheduled task", model::Scope::machine, "\\Acme\\Zqx", "Zqx");
    task.origin = model::Origin::installed_program;
    EXPECT_TRUE(assessor.assess(task).effect.starts_with("A scheduled task installed by a program."));
}

TEST(Assessment, DependentsRaiseTheLevelAndAreListedSixThenTheRest) {
    knowledge::KnowledgePack none;
    knowledge::Assessor assessor(knowledge::builtin_pack(), none, "local", "windows");
    model::StartupItem db = service("AcmeDevDb", "Acme Dev Database", model::Origin::installed_program);
    db.dependents = {"A", "B", "C", "D", "E", "F", "G", "H"};
    model::Assessment a = assessor.assess(db);
    EXPECT_EQ(a.level, model::Level::high);
    EXPECT_TRUE(
        a.effect.ends_with(" 8 other item(s) that start with the computer need it: A, B, C, D, E, F and 2 more."))
        << a.effect;
    EXPECT_TRUE(has_reason(a, "Dependency check: 8 enabled item(s) require it: A, B, C, D, E, F and 2 more."));

    model::StartupItem system = service("OemPanelHost", "OEM Panel Host");
    system.dependents = {"X"};
    model::Assessment b = assessor.assess(system);
    EXPECT_EQ(b.level, model::Level::high);
    EXPECT_EQ(b.confidence, model::Confidence::medium);
    EXPECT_EQ(b.effect, "1 other item(s) that start with the computer need it: X.");
}

TEST(Assessment, OwnEntriesAreSafeWhateverTheRulesSay) {
    knowledge::KnowledgePack none;
    model::StartupItem own = run_entry("rpcss");
    own.managed = true;
    model::Assessment a = knowledge::Assessor(knowledge::builtin_pack(), none, "local", "windows").assess(own);
    EXPECT_EQ(a.level, model::Level::safe);
    EXPECT_EQ(a.confidence, model::Confidence::high);
    EXPECT_EQ(a.reasons.size(), 1u);
}

TEST(Assessment, PackagePriorityAndConfirmationPerLevel) {
    knowledge::KnowledgePack none;
    model::StartupItem unit(model::ItemKind::systemd, "Systemd unit", model::Scope::machine, "system", "zqx.service");
    unit.package = "zqx";
    unit.origin = model::Origin::operating_system;
    unit.set_spec("pkg_priority", "required");
    model::Assessment a = knowledge::Assessor(knowledge::builtin_pack(), none, "local", "linux").assess(unit);
    EXPECT_EQ(a.level, model::Level::high);
    EXPECT_TRUE(has_reason(a, "Owned by the package \"zqx\"."));
    EXPECT_TRUE(has_reason(a, "The package priority is \"required\"."));

    EXPECT_FALSE(model::needs_ack(model::Level::safe));
    EXPECT_FALSE(model::needs_ack(model::Level::low));
    EXPECT_TRUE(model::needs_ack(model::Level::caution));
    EXPECT_TRUE(model::needs_ack(model::Level::high));
    EXPECT_FALSE(model::needs_ack(model::Level::critical));
    EXPECT_TRUE(model::needs_ack(model::Level::unknown));
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// What the check of the program file adds, for a recognised name (the
// built-in "onedrive" rule, high confidence by itself) and for an unknown
// installed program: a changed file asks for caution, a contradicting signer
// and an unsigned file in a folder anyone writes are said, and the name
// counts with high confidence only when the signature agrees. No check at
// all, or one that could not be made, changes nothing.
TEST(Assessment, TheProgramFilesSignatureWeighsOnTheJudgement) {
    using V = model::SignatureVerdict;
    knowledge::KnowledgePack none;
    knowledge::Assessor assessor(knowledge::builtin_pack(), none, "local", "windows");
    const std::string changed = "The program file was changed after it was signed.";
    const std::string anyone = "Warning: the program is neither signed nor packaged and lies in a folder any program "
                               "you run can write to, so anything may have put it there.";
    const std::string contradicted =
        "The version information names Microsoft Corporation as its publisher, but the file is signed by Globex.";
    const struct {
        const char* name;
        std::optional<model::Signature> signature;
        const char* exe;
        model::Level level;
        model::Confidence confidence;
        std::vector<std::string> reasons;
    } cases[] = {
        {"OneDrive", std::nullopt, "C:\\Apps\\OneDrive.exe", model::Level::low, model::Confidence::high, {}},
        {"OneDrive", model::Signature{V::not_checked, "", "", "too large"}, "C:\\Apps\\OneDrive.exe",
         model::Level::low, model::Confidence::high, {}},
        {"OneDrive", model::Signature{V::verified, "Microsoft Corporation", "CA", ""}, "C:\\Apps\\OneDrive.exe",
         model::Level::low, model::Confidence::high, {}},
        {"OneDrive", model::Signature{V::verified, "Globex", "CA", ""}, "C:\\Apps\\OneDrive.exe", model::Level::low,
         model::Confidence::medium, {contradicted}},
        {"OneDrive", model::Signature{V::tampered, "Microsoft Corporation", "CA", ""}, "C:\\Apps\\OneDrive.exe",
         model::Level::caution, model::Confidence::medium, {changed}},
        {"OneDrive", model::Signature{V::unsigned_file, "", "", ""},
         "C:\\Users\\ada\\AppData\\Local\\OneDrive\\OneDrive.exe", model::Level::low, model::Confidence::medium,
         {anyone}},
        {"Frobnicator", model::Signature{V::modified, "", "", ""}, "/usr/bin/frob", model::Level::caution,
         model::Confidence::medium, {}},
        {"Frobnicator", model::Signature{V::unpackaged, "", "", ""}, "/home/ada/Downloads/frob", model::Level::safe,
         model::Confidence::medium, {anyone}},
        {"Frobnicator", model::Signature{V::unsigned_file, "", "", ""}, "C:\\Program Files\\Frob\\frob.exe",
         model::Level::safe, model::Confidence::medium, {}},
    };
    for (const auto& c : cases) {
        model::StartupItem item = run_entry(c.name);
        item.publisher = "Microsoft Corporation";
        item.exe = c.exe;
        item.signature = c.signature;
        const model::Assessment a = assessor.assess(item);
        const std::string label = std::string(c.name) + " " + c.exe;
        EXPECT_EQ(a.level, c.level) << label;
        EXPECT_EQ(a.confidence, c.confidence) << label;
        for (const std::string& reason : c.reasons) EXPECT_TRUE(has_reason(a, reason)) << label << ": " << reason;
        const bool any_said = has_reason(a, changed) || has_reason(a, anyone) || has_reason(a, contradicted);
        if (c.reasons.empty() && c.level != model::Level::caution) {
            EXPECT_FALSE(any_said) << label;
        }
    }
}

}  // namespace
}  // namespace qm
