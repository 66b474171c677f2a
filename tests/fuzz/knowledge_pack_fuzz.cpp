// libFuzzer target for knowledge packs and the knowledge settings file of
// the data folder: any bytes give a pack or a refusal, and settings, never a
// crash; a pack read is read the same again from the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "knowledge/knowledge_pack.h"
#include "knowledge/knowledge_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qm::Result<qm::knowledge::KnowledgePack> pack = qm::knowledge::parse_pack(text);
    const qm::Result<qm::knowledge::KnowledgePack> again = qm::knowledge::parse_pack(text);
    if (pack.has_value() != again.has_value()) std::abort();
    if (pack && pack->version != again->version) std::abort();
    const qm::knowledge::KnowledgeSettings settings = qm::knowledge::parse_knowledge_settings(text);
    (void)settings.address();
    return 0;
}
