#include <gtest/gtest.h>

#include "json/json.h"
#include "model/platform.h"

namespace qm {
namespace {

TEST(PlatformRecords, CandidateJsonHasEveryKeyInOrderWithTypedMembers) {
    model::Candidate candidate;
    candidate.id = "proc|c:\\tools\\notes.exe";
    candidate.name = "Notes";
    candidate.source = model::CandidateSource::process;
    candidate.pids = {12, 4000000000u};
    candidate.modes = {model::StartMode{"login", "When you sign in", "", false, true},
                       model::StartMode{"boot", "When the computer starts", "d", true, false}};
    candidate.notes = {"n"};
    EXPECT_EQ(json::write(model::candidate_json(candidate)),
              R"({"id":"proc|c:\\tools\\notes.exe","name":"Notes","source":"process","exe":"",)"
              R"("command":"","workdir":"","user":"","pids":[12,4000000000],"publisher":"",)"
              R"("description":"","modes":[{"id":"login","label":"When you sign in","detail":"",)"
              R"("needs_admin":false,"recommended":true},{"id":"boot","label":"When the computer )"
              R"(starts","detail":"d","needs_admin":true,"recommended":false}],"notes":["n"],)"
              R"("entry_id":"","system":false})");
}

TEST(PlatformRecords, CreateDetailsReadLenientlyAndRoundTrip) {
    model::CreateDetails details{"notes", "\"C:\\n.exe\" -q", "C:\\n.exe", "C:\\", "boot", "", "d"};
    model::CreateDetails back = model::create_details_from_json(model::create_details_json(details));
    EXPECT_EQ(json::write(model::create_details_json(back)), json::write(model::create_details_json(details)));

    json::JsonValue odd = json::parse(R"({"name":5,"mode":"login","command":null})").value();
    model::CreateDetails lenient = model::create_details_from_json(odd);
    EXPECT_EQ(lenient.name, "");
    EXPECT_EQ(lenient.mode, "login");
    EXPECT_EQ(lenient.command, "");
    EXPECT_EQ(model::create_details_from_json(json::JsonValue(3.0)).mode, "");
}

TEST(PlatformRecords, UnsupportedKindSentenceNamesTheKind) {
    EXPECT_EQ(model::unsupported_kind_message(model::ItemKind::cron), "Unsupported entry type \"cron\".");
}

}  // namespace
}  // namespace qm
