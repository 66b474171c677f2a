#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/process.h"
#include "platform/random.h"
#include "platform/windows/child_command.h"
#include "platform/windows/handle.h"
#include "platform/windows/wide.h"

namespace qm::os {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto poll_interval = std::chrono::milliseconds(8);
// How long output is still collected after the child has ended when
// something else (a program the child started) keeps its pipes open.
constexpr auto drain_grace = std::chrono::seconds(1);
// How long to wait for a child that was told to terminate.
constexpr DWORD terminate_wait_ms = 10000;

bool has_zero(const std::string& text) { return text.find('\0') != std::string::npos; }

// Checks what cannot be handed to a child at all; empty when all is well.
std::string invalid_request_reason(const ChildRequest& request) {
    if (request.program.empty()) return "cannot find the program";
    if (has_zero(request.program) || request.program.find('"') != std::string::npos) {
        return "the program name cannot be passed on";
    }
    for (const std::string& argument : request.arguments) {
        if (has_zero(argument)) return "an argument contains a zero character";
    }
    for (const auto& [name, value] : request.extra_environment) {
        if (name.empty() || name.find('=') != std::string::npos || has_zero(name) || has_zero(value)) {
            return "the environment variable name \"" + name + "\" cannot be passed on";
        }
    }
    return {};
}

std::string start_failure_reason(DWORD code) {
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return "cannot find the program";
    return win::error_text(code);
}

std::string hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text.push_back(digits[c >> 4]);
        text.push_back(digits[c & 15]);
    }
    return text;
}

struct OutputPipe {
    win::Handle read_end;   // ours, overlapped, not inheritable
    win::Handle write_end;  // the child's, inheritable
};

// A one-instance named pipe under a random name: its read end can wait for
// data and for a stop signal at the same time (an anonymous pipe cannot), so
// a program left behind by the child that holds the pipe open can never keep
// the run waiting past its limit.
DWORD make_output_pipe(OutputPipe& pipe) {
    std::optional<std::string> noise = random_bytes(12);
    if (!noise) return ERROR_GEN_FAILURE;
    std::wstring name = win::to_wide("\\\\.\\pipe\\quillmoor-run-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                     hex(*noise));
    pipe.read_end.reset(::CreateNamedPipeW(name.c_str(),
                                           PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                           1, 65536, 65536, 0, nullptr));
    if (!pipe.read_end.valid()) return ::GetLastError();
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    pipe.write_end.reset(
        ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!pipe.write_end.valid()) return ::GetLastError();
    return 0;
}

// Counts finished reader threads so the runner can wait for them with a deadline.
class ReaderCount {
public:
    void finished() {
        std::lock_guard lock(mutex_);
        ++finished_;
        changed_.notify_all();
    }
    bool wait_all(int total, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [&] { return finished_ >= total; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int finished_ = 0;
};

// Reads `pipe` to its end into `sink`, or until `stop` is signalled.
void drain(HANDLE pipe, HANDLE stop, std::string& sink, ReaderCount& count) {
    win::Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::string buffer(65536, '\0');
    while (event.valid()) {
        OVERLAPPED pending{};
        pending.hEvent = event.get();
        DWORD got = 0;
        if (!::ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &pending)) {
            if (::GetLastError() != ERROR_IO_PENDING) break;  // ERROR_BROKEN_PIPE: all writers closed
            HANDLE waits[2] = {event.get(), stop};
            if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                // The read must be over before `pending` goes away.
                ::CancelIoEx(pipe, &pending);
                if (::GetOverlappedResult(pipe, &pending, &got, TRUE)) sink.append(buffer.data(), got);
                break;
            }
        }
        if (!::GetOverlappedResult(pipe, &pending, &got, FALSE)) break;
        sink.append(buffer.data(), got);
    }
    count.finished();
}

// Holds the attribute that limits inheritance to the listed handles, so
// children started at the same time by other threads never receive each
// other's pipe ends.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {}
    ~InheritedHandles() {
        if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    DWORD prepare() {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.assign(size, 0);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return ::GetLastError();
        list_ = list;
        if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                         handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            return ::GetLastError();
        }
        return 0;
    }
    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

ChildBytes run_child(const ChildRequest& request) {
    ChildBytes result;
    auto not_started = [&](const std::string& reason) {
        result.err = request.program + ": " + reason;
        return result;
    };
    if (std::string reason = invalid_request_reason(request); !reason.empty()) return not_started(reason);

    OutputPipe out_pipe;
    OutputPipe err_pipe;
    if (DWORD code = make_output_pipe(out_pipe)) return not_started(win::error_text(code));
    if (DWORD code = make_output_pipe(err_pipe)) return not_started(win::error_text(code));
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    win::Handle null_input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!null_input.valid()) return not_started(win::error_text(::GetLastError()));
    win::Handle stop_readers_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_readers_event.valid()) return not_started(win::error_text(::GetLastError()));

    InheritedHandles inherited({null_input.get(), out_pipe.write_end.get(), err_pipe.write_end.get()});
    if (DWORD code = inherited.prepare()) return not_started(win::error_text(code));

    // The readers start first, so a failure to make a thread happens before
    // any child exists. They see the end of their pipe once the child and
    // the write ends held here are closed.
    std::string out_bytes;
    std::string err_bytes;
    ReaderCount readers_done;
    std::thread out_reader;
    std::thread err_reader;
    auto stop_readers = [&] { ::SetEvent(stop_readers_event.get()); };
    auto join_readers = [&] {
        if (out_reader.joinable()) out_reader.join();
        if (err_reader.joinable()) err_reader.join();
    };
    try {
        out_reader = std::thread(drain, out_pipe.read_end.get(), stop_readers_event.get(), std::ref(out_bytes),
                                 std::ref(readers_done));
        err_reader = std::thread(drain, err_pipe.read_end.get(), stop_readers_event.get(), std::ref(err_bytes),
                                 std::ref(readers_done));
    } catch (const std::system_error&) {
        stop_readers();
        join_readers();
        return not_started("could not start a thread to read its output");
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null_input.get();
    startup.StartupInfo.hStdOutput = out_pipe.write_end.get();
    startup.StartupInfo.hStdError = err_pipe.write_end.get();
    startup.lpAttributeList = inherited.list();
    std::vector<std::wstring> arguments;
    for (const std::string& argument : request.arguments) arguments.push_back(win::to_wide(argument));
    std::wstring line = win::command_line(win::to_wide(request.program), arguments);
    std::vector<std::pair<std::wstring, std::wstring>> extra;
    for (const auto& [name, value] : request.extra_environment) {
        extra.emplace_back(win::to_wide(name), win::to_wide(value));
    }
    std::wstring environment = win::environment_block(win::own_environment_entries(), extra);
    PROCESS_INFORMATION started{};
    BOOL created = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                    CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                                    environment.data(), nullptr, &startup.StartupInfo, &started);
    DWORD create_error = created ? 0 : ::GetLastError();
    out_pipe.write_end.reset();
    err_pipe.write_end.reset();
    null_input.reset();
    if (!created) {
        stop_readers();
        join_readers();
        return not_started(start_failure_reason(create_error));
    }
    win::Handle process(started.hProcess);
    win::Handle thread(started.hThread);
    thread.reset();
    result.started = true;

    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + request.time_limit;
    for (;;) {
        DWORD state = ::WaitForSingleObject(process.get(), 0);
        if (state == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (::GetExitCodeProcess(process.get(), &code)) result.exit_code = code;
            break;
        }
        if (state != WAIT_TIMEOUT) {
            // Waiting failed: the child is not watched any more, so it is
            // stopped rather than left running unobserved.
            ::TerminateProcess(process.get(), 1);
            break;
        }
        Clock::time_point now = Clock::now();
        if (now >= deadline) {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), terminate_wait_ms);
            result.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(poll_interval, deadline - now));
    }

    // Output is collected until both pipes close, but a program the child
    // left behind with its pipes cannot hold the run past the time limit (or
    // past a short grace after the child's end, when that is later).
    if (!readers_done.wait_all(2, std::max(deadline, Clock::now() + drain_grace))) stop_readers();
    join_readers();
    result.out = std::move(out_bytes);
    result.err = std::move(err_bytes);
    return result;
}

}  // namespace qm::os
