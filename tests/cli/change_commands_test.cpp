// The change commands: first as separate runs of the real program (each
// starts a fresh demonstration computer), then as one session of work on one
// demonstration computer inside this process.
#include <gtest/gtest.h>

#include <regex>

#include "cli/dispatch.h"
#include "platforms/demo/demo_platform.h"
#include "engine/backups.h"
#include "engine/journal.h"
#include "os/files.h"
#include "support/demo_engine.h"
#include "support/run_program.h"

namespace qm::cli {
namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

TEST(ChangeCommands, SingleRunsOfTheProgram) {
    auto run = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "--demo");
        test::ProgramRun r = test::run_program(arguments);
        return Outcome{r.exit_code, r.out, r.err};
    };
    Outcome ask = run({"disable", "Print Spooler"});
    EXPECT_EQ(ask.code, 4);
    EXPECT_EQ(ask.err, "  This needs a decision. Run it again with --yes if you accept that.\n");
    EXPECT_TRUE(ask.out.starts_with("  Plan: disable \"Print Spooler\" (Windows service)\n    Level caution"))
        << ask.out;
    Outcome yes = run({"disable", "Print Spooler", "--yes"});
    EXPECT_EQ(yes.code, 0);
    EXPECT_EQ(yes.out, "Print Spooler will no longer start with Windows (demonstration only).\n");
    Outcome critical = run({"disable", "RpcSs", "--yes"});
    EXPECT_EQ(critical.code, 1);
    EXPECT_TRUE(critical.err.starts_with("  Remote Procedure Call (RPC) is critical: ")) << critical.err;
    EXPECT_TRUE(critical.err.ends_with("\n  Quillmoor will not switch this off.\n")) << critical.err;
    Outcome off = run({"disable", "Steam"});
    EXPECT_EQ(off.code, 1);
    EXPECT_EQ(off.err, "  Not possible: It is already switched off.\n");

    Outcome login = run({"add", "vlc"});
    EXPECT_EQ(login.code, 0) << login.err;
    EXPECT_EQ(login.out,
              "Will make \"VLC media player\" start with the computer: \"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\"\n"
              "  Method: Start when I sign in\n"
              "Quillmoor-VLC media player will start with Windows (demonstration only).\n");
    Outcome boot = run({"add", "Notepad++", "--mode", "boot", "--name", "Editor", "--args", "-multiInst", "--yes"});
    EXPECT_EQ(boot.code, 0) << boot.err;
    EXPECT_EQ(
        boot.out,
        "Will make \"Editor\" start with the computer: \"C:\\Program Files\\Notepad++\\notepad++.exe\" -multiInst\n"
        "  Method: Start when the computer starts, before anyone signs in\n"
        "Editor will start with Windows (demonstration only).\n");
    // Part of a name that several programs share names them all, as an
    // ambiguous item name does, instead of claiming that none matches.
    Outcome several = run({"add", "o"});
    EXPECT_EQ(several.code, 1);
    EXPECT_TRUE(several.err.starts_with("8 programs match \"o\"; be more exact or use the id:\n")) << several.err;
    EXPECT_NE(several.err.find("\n  Mozilla Firefox  (process)  proc|firefox\n"), std::string::npos) << several.err;
    EXPECT_EQ(several.out, "");
    // A program that already has an entry gets that entry switched on, and
    // the user is told so before it happens rather than shown a method.
    Outcome existing = run({"add", "Windows Update", "--mode", "boot", "--yes"});
    EXPECT_EQ(existing.code, 0) << existing.err;
    EXPECT_EQ(existing.out,
              "\"Windows Update\" already has a startup entry, \"Windows Update\" (Windows service). Quillmoor will "
              "switch that entry on instead of making a new one.\n"
              "Windows Update will start with Windows (demonstration only).\n");
    Outcome nothing = run({"add", "no-such-program"});
    EXPECT_EQ(nothing.code, 1);
    EXPECT_EQ(
        nothing.err,
        "No running or installed program matches \"no-such-program\", and it is not a file. Try: quillmoor running\n");

    // The item that came back and the task that brought it back, in one go;
    // an item with no cause that can be switched says so and changes nothing.
    Outcome both = run({"disable", "Spotify", "--and-cause"});
    EXPECT_EQ(both.code, 0) << both.err;
    EXPECT_EQ(both.out,
              "Likely cause: SpotifyUpdateTask ran 2 minutes before the Run value was written; it runs from the same "
              "program folder as Spotify.\nSpotify will no longer start with Windows (demonstration only).\n"
              "SpotifyUpdateTask will no longer start with Windows (demonstration only).\n");
    EXPECT_EQ(run({"disable", "Discord", "--and-cause"}).code, 1);

    EXPECT_EQ(run({"remove", "Spotify"}).code, 4);
    Outcome not_own = run({"remove", "Spotify", "--yes"});
    EXPECT_EQ(not_own.code, 1);
    EXPECT_EQ(not_own.err,
              "  Not possible: Only startup entries created by Quillmoor can be removed. Use Disable for others.\n");

    Outcome backup = run({"backup", "--label", "mine"});
    EXPECT_EQ(backup.code, 0);
    EXPECT_TRUE(std::regex_match(backup.out,
                                 std::regex("Saved 26 items to .*quillmoor-backup-DEMO-PC-[0-9]{8}T[0-9]{6}\\.json\n")))
        << backup.out;
    Outcome none = run({"backups"});
    EXPECT_TRUE(none.out.ends_with(
        "(none yet; 'quillmoor backup' makes one, and one is made automatically before any change)\n"));
    EXPECT_EQ(run({"history"}).out, "No changes have been recorded yet.\n");
    EXPECT_EQ(run({"undo", "5"}).err, "That entry is not in the history.\n");
    EXPECT_EQ(run({"restore", "nothing.json"}).err, "That backup was not found.\n");
}

class Session : public test::DemoEngineTest {
protected:
    Session() : DemoEngineTest("session") {}
    Outcome run(std::vector<std::string> arguments) {
        Outcome r{0, "", ""};
        os::Streams streams{[&r](std::string_view t) { r.out.append(t); },
                            [&r](std::string_view t) { r.err.append(t); }};
        r.code = run_command(arguments, streams, engine());
        return r;
    }
};

TEST_F(Session, AWholeSessionOfWorkOnOneComputer) {
    ASSERT_EQ(run({"backup", "--label", "before"}).code, 0);
    std::string backup_name = engine::list_backups(engine()).front().name;

    EXPECT_EQ(run({"disable", "Spotify"}).code, 0);
    EXPECT_EQ(run({"add", "vlc"}).code, 0);
    EXPECT_EQ(run({"list", "--off"}).out.find("Spotify") != std::string::npos, true);

    Outcome history = run({"history"});
    EXPECT_TRUE(history.out.starts_with("SEQ             TIME (UTC)           ACTION    ITEM\n")) << history.out;
    EXPECT_NE(history.out.find("create    Quillmoor-VLC media player\n"), std::string::npos) << history.out;
    EXPECT_NE(history.out.find("disable   Spotify\n                Sign-in: 7.8 s before (5 measured); none "
                               "measured since\n                Boot: 42.8 s before (5 measured); none measured "
                               "since\n"),
              std::string::npos)
        << history.out;
    EXPECT_TRUE(history.out.ends_with("\n\nSign-in figures are the processor time the programs started at sign-in "
                                      "used; boot figures are how long the boot took. Each is the average of the "
                                      "starts measured.\n"));

    Outcome backups = run({"backups"});
    EXPECT_NE(backups.out.find("Automatic, before changes"), std::string::npos);
    EXPECT_NE(backups.out.find("before"), std::string::npos);

    Outcome plan = run({"restore", backup_name});
    EXPECT_EQ(plan.code, 0);
    EXPECT_NE(plan.out.find("[DO  ] enable Spotify - Now off; the backup had it on (Enabled).\n"), std::string::npos)
        << plan.out;
    EXPECT_NE(plan.out.find("[SKIP] remove Quillmoor-VLC media player - "), std::string::npos);
    EXPECT_TRUE(plan.out.ends_with("\nNothing was changed. Add --apply to do the items marked DO.\n")) << plan.out;
    EXPECT_TRUE(run({"list", "--off"}).out.find("Spotify") != std::string::npos);  // --yes alone changes nothing
    (void)run({"restore", backup_name, "--yes"});
    EXPECT_TRUE(run({"list", "--off"}).out.find("Spotify") != std::string::npos);

    Outcome applied = run({"restore", backup_name, "--apply", "--all"});
    EXPECT_EQ(applied.code, 0) << applied.out;
    EXPECT_NE(applied.out.find("[ok  ] Spotify Spotify will start with Windows (demonstration only).\n"),
              std::string::npos)
        << applied.out;
    EXPECT_NE(applied.out.find(
                  "[ok  ] Quillmoor-VLC media player Removed Quillmoor-VLC media player (demonstration only).\n"),
              std::string::npos);

    // Undo the removal: it asks first, then recreates.
    std::vector<engine::HistoryEntry> entries = engine::journal_history(engine().data_folder());
    ASSERT_EQ(entries.front().record.action, model::ChangeAction::remove);
    const std::string seq = std::to_string(entries.front().record.seq);
    Outcome asked = run({"undo", seq});
    EXPECT_EQ(asked.code, 4);
    EXPECT_EQ(asked.err,
              "  It would create \"VLC media player\" running: \"C:\\Program Files\\VideoLAN\\VLC\\vlc.exe\"\n"
              "  This needs a decision. Run it again with --yes if you accept that.\n");
    Outcome undone = run({"undo", seq, "--yes"});
    EXPECT_EQ(undone.code, 0) << undone.err;
    EXPECT_EQ(undone.out, "Recreated Quillmoor-VLC media player.\n");
    EXPECT_NE(run({"history"}).out.find("  [undone]"), std::string::npos);
    EXPECT_EQ(run({"undo", seq, "--yes"}).err, "That change was already undone.\n");
}

}  // namespace
}  // namespace qm::cli

namespace qm::cli {
namespace {

TEST(ChangeCommands, BackupThatCannotBeWrittenSaysWhereAndWhy) {
    const std::string root = test::make_scratch_folder("unwritable");
    const std::string blocker = os::join_path(root, "file");
    ASSERT_TRUE(os::write_file_replace(blocker, "x").has_value());
    engine::EngineContext engine(std::make_unique<demo::DemoPlatform>(false),
                                 model::data_folder_override(os::join_path(blocker, "data")));
    std::string out, err;
    os::Streams streams{[&out](std::string_view t) { out.append(t); }, [&err](std::string_view t) { err.append(t); }};
    EXPECT_EQ(run_command({"backup"}, streams, engine), 1);
    EXPECT_TRUE(err.starts_with("Could not create " + os::join_path(blocker, "data")));
    EXPECT_EQ(err.find("Could not create the folder"), std::string::npos) << err;  // said once, not twice
    err.clear();
    EXPECT_EQ(run_command({"backup", "--out", os::join_path(blocker, "b.json")}, streams, engine), 1);
    EXPECT_TRUE(err.starts_with("Could not write " + os::join_path(blocker, "b.json"))) << err;
    (void)os::remove_tree(root);
}

}  // namespace
}  // namespace qm::cli
