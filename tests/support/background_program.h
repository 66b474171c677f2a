// Runs the real program in the background while a test reads what it prints,
// line by line, and then interrupts it as the user's Ctrl+C would: SIGINT on
// POSIX; on Windows a Ctrl+Break to the process group the child was started
// in, the one console event a program can be sent on its own (Ctrl+C goes to
// every process of the console, the test's too).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::test {

class BackgroundProgram {
public:
    BackgroundProgram(const std::vector<std::string>& arguments,
                      const std::vector<std::pair<std::string, std::string>>& environment = {});
    ~BackgroundProgram();  // ends a program still running, by force
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    [[nodiscard]] bool started() const;
    // Waits up to `timeout` for the next whole line of standard output that
    // holds `text`; the lines before it are passed over. None at the time limit
    // or when the program closed its output.
    [[nodiscard]] std::optional<std::string> next_line_with(std::string_view text, std::chrono::milliseconds timeout);
    // Everything read from standard output so far.
    [[nodiscard]] const std::string& output() const { return out_; }
    [[nodiscard]] bool interrupt();
    // Ends it by force, as the system's task manager would.
    [[nodiscard]] bool kill();
    // The exit code once it ended within `timeout`.
    [[nodiscard]] std::optional<int> wait_for_exit(std::chrono::milliseconds timeout);
    // The child's process id (0 when it did not start).
    [[nodiscard]] long pid() const { return pid_; }

private:
    // Reads what has arrived, waiting up to `timeout` for anything; false at
    // the end of the output.
    bool read_some(std::chrono::milliseconds timeout);

    long pid_ = 0;
    std::string out_;
    std::size_t taken_ = 0;  // how much of out_ next_line_with has passed over
    bool ended_ = false;
    std::optional<int> exit_code_;
#ifdef _WIN32
    void* process_ = nullptr;
    void* out_read_ = nullptr;
#else
    int out_read_ = -1;
#endif
};

}  // namespace qm::test
