#include "knowledge/builtin_pack.h"

#include "embedded.h"

namespace qm::knowledge {

std::string_view builtin_pack_text() { return embedded::builtin_pack(); }

namespace {

struct ParsedBuiltin {
    KnowledgePack pack;
    std::string problem;
};

// Parsed once for the whole run: a function-local static is initialised once
// even when several threads ask at the same time. Should the text ever fail
// to parse, the program still runs with an empty pack rather than ending.
const ParsedBuiltin& parsed_builtin() {
    static const ParsedBuiltin parsed = [] {
        Result<KnowledgePack> pack = parse_pack(builtin_pack_text());
        return pack ? ParsedBuiltin{std::move(*pack), {}} : ParsedBuiltin{KnowledgePack{}, pack.error().message};
    }();
    return parsed;
}

}  // namespace

const KnowledgePack& builtin_pack() { return parsed_builtin().pack; }

const std::string& builtin_pack_problem() { return parsed_builtin().problem; }

}  // namespace qm::knowledge
