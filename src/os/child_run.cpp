#include "os/child_run.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace qm::os {

namespace {

constexpr auto poll_interval = std::chrono::milliseconds(8);
// How long output is still collected after the child has ended when
// something else (a program the child started) keeps its pipes open.
constexpr auto drain_grace = std::chrono::seconds(1);

bool has_zero_byte(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

ChildBytes not_started(const ChildRequest& request, const std::string& reason) {
    ChildBytes result;
    result.err = request.program + ": " + reason;
    return result;
}

std::string environment_refusal(const ChildRequest& request) {
    for (const auto& [name, value] : request.extra_environment) {
        if (name.empty() || name.find('=') != std::string::npos || has_zero_byte(name) || has_zero_byte(value)) {
            return "the environment variable name \"" + name + "\" cannot be passed on";
        }
    }
    return {};
}

ChildOutput::ChildOutput(std::function<void()> wake_readers) : wake_readers_(std::move(wake_readers)) {}

ChildOutput::~ChildOutput() {
    if (out_reader_.joinable() || err_reader_.joinable()) stop();
}

bool ChildOutput::start(Reader read_out, Reader read_err) {
    try {
        out_reader_ = std::thread([this, read = std::move(read_out)] {
            read(out_);
            finished();
        });
        err_reader_ = std::thread([this, read = std::move(read_err)] {
            read(err_);
            finished();
        });
    } catch (const std::system_error&) {
        stop();
        return false;
    }
    return true;
}

void ChildOutput::stop() {
    wake_readers_();
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
}

void ChildOutput::collect(ChildBytes& result) {
    const ChildClock::time_point wait_until = ChildClock::now() + drain_grace;
    bool all_ended = false;
    {
        std::unique_lock lock(mutex_);
        all_ended = changed_.wait_until(lock, wait_until, [&] { return finished_ >= 2; });
    }
    if (!all_ended) wake_readers_();
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
    result.out = std::move(out_);
    result.err = std::move(err_);
}

void ChildOutput::finished() {
    std::lock_guard lock(mutex_);
    ++finished_;
    changed_.notify_all();
}

ChildBytes watch_started_child(const ChildRequest& request, ChildOutput& output,
                               const std::function<ChildState(ChildBytes&)>& look,
                               const std::function<void()>& end_child) {
    ChildBytes result;
    result.started = true;
    const ChildClock::time_point deadline = ChildClock::now() + request.time_limit;
    for (;;) {
        if (look(result) != ChildState::running) break;
        const ChildClock::time_point now = ChildClock::now();
        if (now >= deadline) {
            end_child();
            result.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::min<ChildClock::duration>(poll_interval, deadline - now));
    }
    output.collect(result);
    return result;
}

}  // namespace qm::os
