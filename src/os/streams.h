// Where a command writes: ordinary output, machine-readable data and messages
// for the user. The program uses the process's standard streams, through
// which text bound for a terminal has its control characters replaced and a
// failed write is remembered, so the program can end with a failure instead
// of reporting success; tests capture the streams instead.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace qm::os {

// The first write to a standard stream that failed, if any. Thread-safe: the
// window server's connection threads may write too.
class StreamFailures {
public:
    void note(std::string_view stream, const std::string& reason);
    [[nodiscard]] bool any() const;
    // "Quillmoor could not write to {stream}: {reason}." or empty.
    [[nodiscard]] std::string sentence() const;

private:
    mutable std::mutex lock_;
    std::string sentence_;
};

struct Streams {
    std::function<void(std::string_view)> out;
    std::function<void(std::string_view)> err;
    // JSON and other machine-readable output, written byte for byte even to a
    // terminal (it carries no raw control characters of its own). When unset,
    // `out` takes it.
    std::function<void(std::string_view)> data = nullptr;

    void out_data(std::string_view text) const { data ? data(text) : out(text); }
    // Whether a write has failed, so that a command that goes on printing
    // (watch) can end once nobody reads it; unset: writes never fail.
    std::function<bool()> failed = nullptr;
    [[nodiscard]] bool writes_failed() const { return failed && failed(); }

    // The process's standard output and error; failures are noted in `failures`,
    // which must outlive the streams.
    static Streams standard(StreamFailures& failures);
};

}  // namespace qm::os
