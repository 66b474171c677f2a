#include <windows.h>

#include "os/child_run.h"
#include "os/console.h"
#include "os/process.h"
#include "os/random_hex.h"
#include "os/windows/child_command.h"
#include "os/windows/handle.h"
#include "os/windows/wide.h"

namespace qm::os {

namespace {

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
    return environment_refusal(request);
}

std::string start_failure_reason(DWORD code) {
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return "cannot find the program";
    return windows::error_text(code);
}

struct OutputPipe {
    windows::Handle read_end;   // ours, overlapped, not inheritable
    windows::Handle write_end;  // the child's, inheritable
};

// A one-instance named pipe under a random name: its read end can wait for
// data and for a stop signal at the same time (an anonymous pipe cannot), so
// a program left behind by the child that holds the pipe open can never keep
// the run waiting past its limit.
DWORD make_output_pipe(OutputPipe& pipe) {
    std::optional<std::string> noise = random_hex(12);
    if (!noise) return ERROR_GEN_FAILURE;
    std::wstring name =
        windows::to_wide("\\\\.\\pipe\\quillmoor-run-" + std::to_string(::GetCurrentProcessId()) + "-" + *noise);
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

// Reads `pipe` to its end into `sink`, or until `stop` is signalled.
void drain(HANDLE pipe, HANDLE stop, std::string& sink) {
    windows::Handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
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
    if (std::string reason = invalid_request_reason(request); !reason.empty()) return not_started(request, reason);
    auto failed = [&](DWORD code) { return not_started(request, windows::error_text(code)); };

    OutputPipe out_pipe;
    OutputPipe err_pipe;
    if (DWORD code = make_output_pipe(out_pipe)) return failed(code);
    if (DWORD code = make_output_pipe(err_pipe)) return failed(code);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    windows::Handle null_input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!null_input.valid()) return failed(::GetLastError());
    windows::Handle stop_readers_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop_readers_event.valid()) return failed(::GetLastError());

    InheritedHandles inherited({null_input.get(), out_pipe.write_end.get(), err_pipe.write_end.get()});
    if (DWORD code = inherited.prepare()) return failed(code);

    // The readers start first, so a failure to make a thread happens before
    // any child exists. They see the end of their pipe once the child and
    // the write ends held here are closed.
    const HANDLE stop = stop_readers_event.get();
    const HANDLE out_read = out_pipe.read_end.get();
    const HANDLE err_read = err_pipe.read_end.get();
    ChildOutput output([stop] { ::SetEvent(stop); });
    if (!output.start([=](std::string& sink) { drain(out_read, stop, sink); },
                      [=](std::string& sink) { drain(err_read, stop, sink); })) {
        return not_started(request, "could not start a thread to read its output");
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null_input.get();
    startup.StartupInfo.hStdOutput = out_pipe.write_end.get();
    startup.StartupInfo.hStdError = err_pipe.write_end.get();
    startup.lpAttributeList = inherited.list();
    std::vector<std::wstring> arguments;
    for (const std::string& argument : request.arguments) arguments.push_back(windows::to_wide(argument));
    std::wstring line = windows::command_line(windows::to_wide(request.program), arguments);
    std::vector<std::pair<std::wstring, std::wstring>> extra;
    for (const auto& [name, value] : request.extra_environment) {
        extra.emplace_back(windows::to_wide(name), windows::to_wide(value));
    }
    std::wstring environment = windows::environment_block(windows::own_environment_entries(), extra);
    PROCESS_INFORMATION started{};
    BOOL created = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                    CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
                                        EXTENDED_STARTUPINFO_PRESENT,
                                    environment.data(), nullptr, &startup.StartupInfo, &started);
    DWORD create_error = created ? 0 : ::GetLastError();
    out_pipe.write_end.reset();
    err_pipe.write_end.reset();
    null_input.reset();
    if (!created) {
        output.stop();
        return not_started(request, start_failure_reason(create_error));
    }
    windows::Handle process(started.hProcess);
    windows::Handle thread(started.hThread);
    thread.reset();
    // An interrupt that ends this program early first waits for the child
    // (which its time limit bounds), so a tool is never cut off halfway
    // through a change.
    const HANDLE waited = process.get();
    const EndOfRunTask wait_at_end(
        [waited, limit = request.time_limit] { ::WaitForSingleObject(waited, static_cast<DWORD>(limit.count())); });
    return watch_started_child(
        request, output,
        [&](ChildBytes& result) {
            DWORD state = ::WaitForSingleObject(process.get(), 0);
            if (state == WAIT_OBJECT_0) {
                DWORD code = 0;
                if (::GetExitCodeProcess(process.get(), &code)) result.exit_code = code;
                return ChildState::ended;
            }
            if (state == WAIT_TIMEOUT) return ChildState::running;
            // Waiting failed: the child is not watched any more, so it is
            // stopped rather than left running unobserved.
            ::TerminateProcess(process.get(), 1);
            return ChildState::lost;
        },
        [&] {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), terminate_wait_ms);
        });
}

}  // namespace qm::os
