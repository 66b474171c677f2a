// The window's watch for changes: while the window's switch is on, the page
// keeps one long poll open, and the first one starts a watch of the computer
// on a thread of its own (Windows ties registry notifications to the thread
// that asks for them). Each change the watch sees is numbered; a poll
// returns as soon as there is a change after the number it names, or when
// its time is up. The watch ends when the window turns the switch off or
// says goodbye, and by itself when no poll has come for a minute, so a
// window that vanished leaves nothing waiting. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/change_follower.h"
#include "engine/engine_context.h"
#include "json/json.h"
#include "os/wake_signal.h"

namespace qm::server {

class WindowWatch {
public:
    WindowWatch() = default;
    // Stops the watch and waits for its thread to end.
    ~WindowWatch();
    WindowWatch(const WindowWatch&) = delete;
    WindowWatch& operator=(const WindowWatch&) = delete;

    // How long a poll waits at most, and how long the watch goes on without one.
    static constexpr std::chrono::milliseconds poll_time{25000};
    static constexpr std::chrono::milliseconds idle_time{60000};

    // Starts the watch when it is not running, then waits up to `wait` for a
    // change numbered after `after` (the cursor of an earlier answer); without
    // one, only until the watch has read the computer once and waits, from
    // which on the answer's cursor counts. Answers {ok, watching, places,
    // notes, cursor, changes: [...], message}; ok is false, with the reason,
    // when the watch cannot run.
    [[nodiscard]] json::JsonValue poll(engine::EngineContext& engine, std::optional<std::uint64_t> after,
                                       std::chrono::milliseconds wait = poll_time);
    // Ends the watch and every poll waiting on it.
    void stop();

private:
    void run(engine::EngineContext& engine, std::shared_ptr<os::WakeSignal> wake);
    void watch_until_stopped(engine::EngineContext& engine, const std::shared_ptr<os::WakeSignal>& wake);
    [[nodiscard]] json::JsonValue answer_locked(std::uint64_t after) const;

    static constexpr std::size_t changes_kept = 200;

    mutable std::mutex lock_;
    std::condition_variable news_;
    bool running_ = false;                       // guarded by lock_
    std::shared_ptr<os::WakeSignal> wake_;       // the running watch's; guarded by lock_
    std::uint64_t cursor_ = 0;                   // number of the last change seen; guarded by lock_
    std::deque<json::JsonValue> changes_;        // the newest, the last numbered cursor_; guarded by lock_
    bool ready_ = false;                         // the running watch has read the computer once; guarded by lock_
    std::size_t places_ = 0;                     // guarded by lock_
    std::vector<std::string> notes_;             // guarded by lock_
    std::string failure_;                        // why the last watch could not run; guarded by lock_
    std::size_t polls_waiting_ = 0;              // guarded by lock_
    std::size_t threads_ = 0;                    // watch threads not yet ended; guarded by lock_
    std::chrono::steady_clock::time_point last_poll_;  // guarded by lock_
};

}  // namespace qm::server
