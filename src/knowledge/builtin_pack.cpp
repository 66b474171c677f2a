#include "knowledge/builtin_pack.h"

#include "embedded.h"

namespace qm::knowledge {

std::string_view builtin_pack_text() { return embedded::builtin_pack(); }

const KnowledgePack& builtin_pack() {
    // A function-local static is initialised once even when several threads
    // ask at the same time. Should the text ever fail to parse, the program
    // still runs with an empty pack rather than ending.
    static const KnowledgePack pack = [] {
        Result<KnowledgePack> parsed = parse_pack(builtin_pack_text());
        return parsed ? std::move(*parsed) : KnowledgePack{};
    }();
    return pack;
}

}  // namespace qm::knowledge
