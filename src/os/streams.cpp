#include "os/streams.h"

#include "os/console.h"
#include "util/result.h"
#include "util/text.h"

namespace qm::os {

void StreamFailures::note(std::string_view stream, const std::string& reason) {
    std::lock_guard guard(lock_);
    if (sentence_.empty()) {
        std::string text = reason;
        while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
        sentence_ = "Quillmoor could not write to " + std::string(stream) + ": " + text + ".";
    }
}

bool StreamFailures::any() const {
    std::lock_guard guard(lock_);
    return !sentence_.empty();
}

std::string StreamFailures::sentence() const {
    std::lock_guard guard(lock_);
    return sentence_;
}

namespace {

using Writer = Result<void> (*)(std::string_view);

// Text for a terminal keeps only the line feeds the program writes; names and
// messages from the computer, backups or knowledge files cannot steer it.
std::function<void(std::string_view)> standard_writer(Writer write, bool terminal, std::string_view stream,
                                                      StreamFailures& failures) {
    return [write, terminal, stream, &failures](std::string_view text) {
        Result<void> written = terminal ? write(replace_control_characters(text, true)) : write(text);
        if (!written) failures.note(stream, written.error().message);
    };
}

}  // namespace

Streams Streams::standard(StreamFailures& failures) {
    Streams streams;
    streams.out = standard_writer(os::write_stdout, os::stdout_is_terminal(), "standard output", failures);
    streams.err = standard_writer(os::write_stderr, os::stderr_is_terminal(), "standard error", failures);
    streams.data = standard_writer(os::write_stdout, false, "standard output", failures);
    streams.failed = [&failures] { return failures.any(); };
    return streams;
}

}  // namespace qm::os
