#include "server/window_watch.h"

#include <algorithm>

#include "os/detached_thread.h"
#include "util/time_text.h"

namespace qm::server {

namespace {

json::JsonValue failure_answer(const std::string& message) {
    return json::ObjectBuilder().flag("ok", false).flag("watching", false).string("message", message).done();
}

}  // namespace

WindowWatch::~WindowWatch() {
    stop();
    std::unique_lock held(lock_);
    news_.wait(held, [&] { return threads_ == 0; });
}

json::JsonValue WindowWatch::poll(engine::EngineContext& engine, std::optional<std::uint64_t> after,
                                  std::chrono::milliseconds wait) {
    std::unique_lock held(lock_);
    last_poll_ = std::chrono::steady_clock::now();
    if (!running_) {
        Result<std::shared_ptr<os::WakeSignal>> wake = os::WakeSignal::make();
        if (!wake) return failure_answer(wake.error().message);
        running_ = true;
        wake_ = *wake;
        failure_.clear();
        ready_ = false;
        places_ = 0;
        notes_.clear();
        ++threads_;
        Result<void> started = os::start_detached_thread([this, &engine, wake = *wake] { run(engine, wake); });
        if (!started) {
            --threads_;
            running_ = false;
            wake_.reset();
            return failure_answer(started.error().message);
        }
    }
    ++polls_waiting_;
    std::uint64_t since = cursor_;
    if (!after) {
        news_.wait_for(held, wait, [&] { return ready_ || !running_; });
        since = cursor_;
    } else {
        // A number this run never gave (the page outlived an earlier run) counts as now.
        since = std::min(*after, cursor_);
        news_.wait_for(held, wait, [&] { return cursor_ > since || !running_; });
    }
    --polls_waiting_;
    last_poll_ = std::chrono::steady_clock::now();
    return answer_locked(since);
}

void WindowWatch::stop() {
    std::lock_guard held(lock_);
    if (wake_) wake_->raise();
    wake_.reset();
    running_ = false;
    news_.notify_all();
}

json::JsonValue WindowWatch::answer_locked(std::uint64_t after) const {
    json::JsonValue changes = json::JsonValue::array();
    // changes_ holds the changes numbered cursor_ - size + 1 to cursor_.
    const std::uint64_t first = cursor_ - changes_.size() + 1;
    for (std::size_t i = 0; i < changes_.size(); ++i) {
        if (first + i > after) changes.as_array().push_back(changes_[i]);
    }
    return json::ObjectBuilder()
        .flag("ok", failure_.empty())
        .flag("watching", running_ && ready_)
        .count("places", places_)
        .strings("notes", notes_)
        .count("cursor", cursor_)
        .value("changes", std::move(changes))
        .string("message", failure_)
        .done();
}

void WindowWatch::run(engine::EngineContext& engine, std::shared_ptr<os::WakeSignal> wake) {
    watch_until_stopped(engine, wake);
    // The last touch of this object: once the count is down, its owner may destroy it.
    std::lock_guard held(lock_);
    --threads_;
    news_.notify_all();
}

void WindowWatch::watch_until_stopped(engine::EngineContext& engine, const std::shared_ptr<os::WakeSignal>& wake) {
    // Whether this is still the watch in force: a stopped one says nothing more.
    auto current = [&] { return wake_ == wake; };
    Result<std::unique_ptr<model::ChangeWatch>> made = engine.platform().watch_changes(wake);
    if (!made) {
        std::lock_guard held(lock_);
        if (current()) {
            failure_ = made.error().message;
            running_ = false;
            wake_.reset();
        }
        news_.notify_all();
        return;
    }
    model::ChangeWatch& watch = **made;
    engine::ChangeFollower follower(engine);
    std::vector<std::string> notes = watch.notes();
    if (!engine.demo()) {
        for (std::string& note : follower.start()) notes.push_back(std::move(note));
    }
    {
        std::lock_guard held(lock_);
        places_ = watch.places();
        notes_ = std::move(notes);
        ready_ = true;
        news_.notify_all();
    }
    while (true) {
        std::chrono::milliseconds until_idle{0};
        {
            std::lock_guard held(lock_);
            if (!current()) break;
            const auto quiet = std::chrono::steady_clock::now() - last_poll_;
            if (polls_waiting_ == 0 && quiet >= idle_time) {
                // The window is gone without a word: nobody waits any more.
                running_ = false;
                wake_.reset();
                news_.notify_all();
                break;
            }
            until_idle = std::max(std::chrono::ceil<std::chrono::milliseconds>(idle_time - quiet),
                                  std::chrono::milliseconds(1000));
        }
        const model::WatchWake woke = engine::wait_until_settled(watch, until_idle);
        if (woke == model::WatchWake::woken) break;
        if (woke == model::WatchWake::timed_out || engine.demo()) continue;
        std::vector<std::string> failures;  // the history is the watch's; the window shows the changes anyway
        const std::vector<engine::SeenChange> seen = follower.next(failures);
        const std::int64_t now = now_unix_seconds();
        std::lock_guard held(lock_);
        if (!current()) break;
        for (const engine::SeenChange& change : seen) {
            ++cursor_;
            changes_.push_back(engine::seen_change_json(change, now));
            if (changes_.size() > changes_kept) changes_.pop_front();
        }
        if (!seen.empty()) news_.notify_all();
    }
}

}  // namespace qm::server
