// The knowledge pack compiled into the program: its exact text (what
// `knowledge export` prints) and the pack parsed from it once per run, on
// first use.
// Both are thread-safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

#include "knowledge/knowledge_pack.h"

namespace qm::knowledge {

[[nodiscard]] std::string_view builtin_pack_text();

// The built-in pack always passes every check; it is tested at build time.
[[nodiscard]] const KnowledgePack& builtin_pack();
// Why the built-in text could not be parsed (then builtin_pack() is empty);
// empty when it was. Both come from the one parse.
[[nodiscard]] const std::string& builtin_pack_problem();

}  // namespace qm::knowledge
