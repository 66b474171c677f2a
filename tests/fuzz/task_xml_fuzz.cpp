// libFuzzer target for the XML text reader and the task definition reader:
// any bytes decode to valid UTF-8 and read without crashing or hanging;
// elements lie inside the document and hold their content; escaped text
// comes back unchanged. Seed it with the real task files:
// build/fuzz/tests/fuzz/task_xml_fuzz corpus/ tests/data/conformance/task-xml
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/task_definition.h"
#include "util/text.h"
#include "formats/xml_text.h"

namespace {

void check_elements(std::string_view document, std::string_view name) {
    const char* begin = document.data();
    const char* end = begin + document.size();
    for (const qm::formats::Element& element : qm::formats::find_elements(document, name)) {
        const char* whole_end = element.whole.data() + element.whole.size();
        if (element.whole.data() < begin || whole_end > end) __builtin_trap();
        if (element.content.data() < element.whole.data() ||
            element.content.data() + element.content.size() > whole_end) {
            __builtin_trap();
        }
        if (!element.whole.starts_with("<") || !element.whole.ends_with(">")) __builtin_trap();
        if (element.whole.substr(1, name.size()) != name) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = qm::formats::decode_document(bytes);
    if (!qm::is_valid_utf8(text)) __builtin_trap();
    for (std::string_view name : {"Task", "Exec", "Settings", "Enabled", "LogonTrigger"}) check_elements(text, name);
    // The raw bytes too, as a document that is already text.
    check_elements(bytes, "Command");

    const qm::formats::TaskDefinition task = qm::formats::read_task_definition(text);
    for (const std::string* field :
         {&task.command, &task.arguments, &task.author, &task.user_id, &task.run_level, &task.description, &task.uri,
          &task.source, &task.logon_delay}) {
        if (!qm::is_valid_utf8(*field) || field->size() > text.size()) __builtin_trap();
    }
    if (qm::formats::restore_entities(qm::formats::escape(bytes)) != bytes) __builtin_trap();
    if (qm::formats::element_text("<D>" + qm::formats::escape(text) + "</D>", "D") != qm::trim(text)) __builtin_trap();
    return 0;
}
