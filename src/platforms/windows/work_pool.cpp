#include "platforms/windows/work_pool.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <vector>

#include "os/windows/handle.h"

namespace qm::windows {

namespace {

// Fewer pieces than this are not worth a thread of their own.
constexpr std::size_t pieces_per_thread = 16;

struct Pool {
    const std::function<void(std::size_t)>* work = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::mutex failure_lock;
    std::exception_ptr failure;

    void run() {
        for (std::size_t index; (index = next.fetch_add(1)) < count;) {
            try {
                (*work)(index);
            } catch (...) {
                const std::lock_guard<std::mutex> held(failure_lock);
                if (!failure) failure = std::current_exception();
                next.store(count);
            }
        }
    }
};

DWORD WINAPI run_pool(void* parameter) {
    static_cast<Pool*>(parameter)->run();
    return 0;
}

void run_on_threads(std::size_t count, std::size_t wanted, const std::function<void(std::size_t)>& work) {
    Pool pool;
    pool.work = &work;
    pool.count = count;
    std::vector<os::windows::Handle> threads;
    // Room for every thread first: a thread whose handle could not be kept
    // would still be running on `pool` after this returns.
    threads.reserve(wanted);
    for (std::size_t i = 1; i < wanted; ++i) {
        os::windows::Handle thread(::CreateThread(nullptr, 0, run_pool, &pool, 0, nullptr));
        if (!thread) break;
        threads.push_back(std::move(thread));
    }
    pool.run();
    for (const os::windows::Handle& thread : threads) ::WaitForSingleObject(thread.get(), INFINITE);
    if (pool.failure) std::rethrow_exception(pool.failure);
}

}  // namespace

void run_on_workers(std::size_t count, const std::function<void(std::size_t)>& work) {
    run_on_threads(count, std::min<std::size_t>(most_workers, count / pieces_per_thread + 1), work);
}

void run_both(const std::function<void()>& first, const std::function<void()>& second) {
    run_on_threads(2, 2, [&](std::size_t index) { index == 0 ? first() : second(); });
}

}  // namespace qm::windows
