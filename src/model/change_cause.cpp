#include "model/change_cause.h"

namespace qm::model {

std::string_view word_text(ActorKind kind) {
    switch (kind) {
        case ActorKind::task: return "task";
        case ActorKind::service: return "service";
        case ActorKind::installer: return "installer";
        case ActorKind::package: return "package";
        case ActorKind::program: return "program";
    }
    return "task";
}

json::JsonValue change_cause_json(const ChangeCause& cause) {
    json::ObjectBuilder out;
    out.string("kind", std::string(word_text(cause.kind))).string("name", cause.name);
    if (!cause.item_id.empty()) out.string("item", cause.item_id);
    return out.string("sure", cause.likely ? "likely" : "possibly").string("why", cause.why).done();
}

}  // namespace qm::model
