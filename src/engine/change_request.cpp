#include "engine/change_request.h"

namespace qm::engine {

std::string action_text(const std::optional<model::ChangeAction>& action, const std::string& unknown) {
    return action ? std::string(model::word_text(*action)) : unknown;
}

ChangeRequest create_request(std::string id, const model::CreateDetails& details) {
    ChangeRequest request;
    request.action = model::ChangeAction::create;
    request.id = std::move(id);
    request.create = details;
    request.create.description.clear();  // a request asks for no description
    return request;
}

json::JsonValue change_request_json(const ChangeRequest& request) {
    json::ObjectBuilder hints;
    for (const auto& [key, value] : request.options) hints.string(key, value);
    json::JsonValue spec = request.action == model::ChangeAction::create ? model::create_details_json(request.create)
                                                                         : json::JsonValue::object();
    return json::ObjectBuilder()
        .string("action", action_text(request.action, request.unknown_action))
        .string("id", request.id)
        .flag("stop_now", request.stop_now)
        .count("seconds", request.seconds)
        .value("hints", hints.done())
        .value("spec", std::move(spec))
        .done();
}

ChangeRequest change_request_from_json(const json::JsonValue& object) {
    const json::JsonValue* spec = json::get(object, "spec");
    ChangeRequest request =
        create_request(json::get_text(object, "id"), model::create_details_from_json(spec ? *spec : object));
    const std::string word = json::get_text(object, "action");
    // Undoing is asked for by a journal number, never by a change request,
    // and an observation is nothing anyone can ask for.
    request.action = model::read_change_action(word);
    if (request.action == model::ChangeAction::undo || request.action == model::ChangeAction::observed)
        request.action.reset();
    if (!request.action) request.unknown_action = word;
    // Free name/value pairs for the platform, such as a service's start type.
    if (const json::JsonValue* hints = json::get(object, "hints"); hints && hints->is_object()) {
        for (const auto& [key, value] : hints->as_object()) {
            request.options.emplace_back(key, value.is_string() ? value.as_string() : std::string());
        }
    }
    request.stop_now = json::get_flag(object, "stop_now");
    // Beyond the longest delay offered a count is not a delay anyone asked for.
    const std::uint64_t seconds = json::get_count(object, "seconds");
    request.seconds = seconds > model::longest_later_seconds ? model::longest_later_seconds + 1
                                                               : static_cast<std::uint32_t>(seconds);
    request.ack = json::get_flag(object, "ack");
    return request;
}

std::vector<model::SpecPair> create_details_pairs(const model::CreateDetails& details) {
    std::vector<model::SpecPair> pairs;
    for (const auto& [key, field] : model::create_detail_fields) pairs.push_back({std::string(key), details.*field});
    return pairs;
}

model::CreateDetails create_details_from_pairs(const std::vector<model::SpecPair>& pairs) {
    model::CreateDetails details;
    for (const auto& [key, field] : model::create_detail_fields) {
        for (const model::SpecPair& pair : pairs) {
            if (pair.key == key) {
                details.*field = pair.value;
                break;
            }
        }
    }
    return details;
}

}  // namespace qm::engine
