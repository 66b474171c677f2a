// What the two child runners (posix/ and windows/process_*.cpp) share: the
// wording of a start failure, the check of extra environment variables, two
// reader threads that collect standard output and error and are waited for
// with a deadline, and the loop that watches a started child until it ends
// or its time is up. Each runner supplies only the system calls: reading a pipe,
// waking its readers, looking at the child and ending it. Internal to
// src/platform; one ChildOutput belongs to one run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "os/process.h"

namespace qm::os {

using ChildClock = std::chrono::steady_clock;

// A result for a child that was not started: err "{program}: {reason}".
[[nodiscard]] ChildBytes not_started(const ChildRequest& request, const std::string& reason);

// Why an extra environment variable cannot be handed to a child (an empty
// name, '=' in the name, a zero byte anywhere); empty when all can.
[[nodiscard]] std::string environment_refusal(const ChildRequest& request);

// The child's standard output and error, each read to its end by a thread of
// its own, so a child that fills one pipe never blocks on the other.
class ChildOutput {
public:
    // Reads one pipe into `sink` until the pipe ends or the readers are woken.
    using Reader = std::function<void(std::string& sink)>;

    // `wake_readers` makes readers that still wait give up; it may be called
    // more than once.
    explicit ChildOutput(std::function<void()> wake_readers);
    ~ChildOutput();  // wakes and joins readers that still run
    ChildOutput(const ChildOutput&) = delete;
    ChildOutput& operator=(const ChildOutput&) = delete;

    // Starts both readers; false when a thread could not be made, and then
    // none runs.
    [[nodiscard]] bool start(Reader read_out, Reader read_err);

    // Wakes and joins the readers, for a child that did not start.
    void stop();

    // Called once the child has ended or been stopped: waits until both
    // pipes have ended, but no more than a short grace, so that a program the
    // child left behind with its pipes (a console host, a helper it started)
    // cannot hold the run until its time limit; then stops the readers and
    // moves what they read into `result`.
    void collect(ChildBytes& result);

private:
    void finished();

    std::function<void()> wake_readers_;
    std::string out_;
    std::string err_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int finished_ = 0;
    std::thread out_reader_;
    std::thread err_reader_;
};

// What one look at a started child found.
enum class ChildState { running, ended, lost };

// The run of a child that has just started. Looks at it every 8 ms until
// `look` says it has ended (having put its exit code in the result) or can no
// longer be watched, or until the request's time limit, when `end_child`
// ends it and the run counts as timed out; then collects its output.
[[nodiscard]] ChildBytes watch_started_child(const ChildRequest& request, ChildOutput& output,
                                             const std::function<ChildState(ChildBytes&)>& look,
                                             const std::function<void()>& end_child);

}  // namespace qm::os
