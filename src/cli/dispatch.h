// Program entry and command dispatch: splits the arguments, decides help and
// version first, refuses unknown commands and missing operands, builds
// exactly one platform (the real computer or the demonstration with a fresh
// temporary data folder, removed however the run ends short of being killed,
// unless QUILLMOOR_KEEP_DEMO is set) and hands over to one command from the
// command table. Returns the exit code: 0 done, 1 failed or found nothing,
// 2 usage error, 3 administrator rights needed, 4 confirmation needed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/streams.h"
#include "engine/engine_context.h"
#include "util/result.h"

namespace qm::cli {

// Detaches from a console that only this process uses when there are no
// arguments (a double-click), then dispatches to the standard streams.
int process_entry(const std::vector<std::string>& arguments);

int dispatch(const std::vector<std::string>& arguments, const os::Streams& streams);

// Runs one command on an engine that already exists (so that several
// commands can share one demonstration computer); help, version, unknown
// words and missing operands are answered as dispatch answers them.
int run_command(const std::vector<std::string>& arguments, const os::Streams& streams, engine::EngineContext& engine);

// A new, empty folder "quillmoor-demo-{12 hex digits}" in the system's
// temporary folder (up to 10 names are tried).
[[nodiscard]] Result<std::string> make_demo_data_folder();

[[nodiscard]] std::string help_text();
[[nodiscard]] std::string version_text();

}  // namespace qm::cli
