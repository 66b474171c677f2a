#include "os/run_tool.h"

#include "os/process.h"
#include "util/decode.h"
#include "util/text.h"

namespace qm::os {

RunOutput run_tool(const ToolRun& run) {
    os::ChildRequest request;
    request.program = run.program;
    request.arguments = run.arguments;
    request.extra_environment = run.extra_environment;
    request.time_limit = std::chrono::seconds(run.time_limit_seconds);
    os::ChildBytes bytes = os::run_child(request);

    RunOutput output;
    output.out = run.raw_output ? std::move(bytes.out) : decode_text(bytes.out);
    // A start failure is already words of ours, not the child's bytes.
    output.err = bytes.started ? decode_text(bytes.err) : std::move(bytes.err);
    output.exit_code = bytes.exit_code;
    output.timed_out = bytes.timed_out;
    return output;
}

std::string tool_output_text(const RunOutput& output) {
    std::string text = trim(output.out);
    const std::string err = trim(output.err);
    if (!text.empty() && !err.empty()) text += "\n";
    text += err;
    return shorten(text, 200);
}

}  // namespace qm::os
