// Links saved by the system's own shell link object read back through
// formats::read_shell_link: a local target, a network share, a target written with
// environment variables and one with non-ASCII characters.
#include <string>

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include "os/os_test_support.h"
#include "formats/shell_link.h"
#include "os/files.h"
#include "os/windows/wide.h"

namespace qm::formats {
namespace {

// Releases a COM interface pointer when it goes out of scope.
template <class Interface>
class ComPointer {
public:
    ComPointer() = default;
    ~ComPointer() {
        if (pointer_ != nullptr) pointer_->Release();
    }
    ComPointer(const ComPointer&) = delete;
    ComPointer& operator=(const ComPointer&) = delete;

    Interface* operator->() const { return pointer_; }
    Interface** out() { return &pointer_; }
    [[nodiscard]] explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};

// COM for this thread while the test runs.
class ComScope {
public:
    ComScope() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    [[nodiscard]] bool ready() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

struct LinkFields {
    std::string target, arguments, working_directory;
};

// Saves a link at `file` through the shell's link object; "" when it worked,
// otherwise the step that failed and its result code.
std::string save_link(const std::string& file, const LinkFields& fields) {
    ComPointer<IShellLinkW> link;
    HRESULT hr = ::CoCreateInstance(__uuidof(::ShellLink), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                                    reinterpret_cast<void**>(link.out()));
    if (FAILED(hr) || !link) return "CoCreateInstance " + std::to_string(hr);
    // SetPath gives S_FALSE for a target that does not exist; the link is still made.
    hr = link->SetPath(os::windows::to_wide(fields.target).c_str());
    if (FAILED(hr)) return "SetPath " + std::to_string(hr);
    hr = link->SetArguments(os::windows::to_wide(fields.arguments).c_str());
    if (FAILED(hr)) return "SetArguments " + std::to_string(hr);
    hr = link->SetWorkingDirectory(os::windows::to_wide(fields.working_directory).c_str());
    if (FAILED(hr)) return "SetWorkingDirectory " + std::to_string(hr);
    ComPointer<IPersistFile> persist;
    hr = link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(persist.out()));
    if (FAILED(hr) || !persist) return "QueryInterface(IPersistFile) " + std::to_string(hr);
    hr = persist->Save(os::windows::to_wide(file).c_str(), TRUE);
    if (FAILED(hr)) return "Save " + std::to_string(hr);
    return "";
}

// What the link object keeps of a path it is given: its full form, with a
// relative path taken from the current folder.
std::string full_path(const std::string& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(os::windows::to_wide(path).c_str(), MAX_PATH, buffer, nullptr);
    return length == 0 || length >= MAX_PATH ? path : os::windows::to_utf8(std::wstring_view(buffer, length));
}

// Wine's link object writes the target as a single-byte local path only (the
// item list, which holds it in full, is not read), so:
// - a network share is kept as that local path and reads back unchanged;
// - %ProgramFiles%\... is neither expanded nor put into an
//   environment-variable block but taken as a path relative to the current
//   folder, and that is what the reader gives;
// - non-ASCII characters survive only when the ANSI code page holds them;
//   others arrive as '?'. Arguments and working folders are Unicode strings
//   and always read back exactly.
TEST(ShellLinkSaved, TargetsArgumentsAndWorkingFoldersReadBack) {
    if (!test::running_under_wine()) GTEST_SKIP() << "the expected targets are those of Wine's shell link object";
    ComScope com;
    ASSERT_TRUE(com.ready());
    test::ScratchFolder scratch;
    // The local program exists, so its target is that file.
    const std::string app_folder = scratch / "App";
    ASSERT_TRUE(os::create_folders(app_folder).has_value());
    const std::string app = scratch / "App\\app.exe";
    ASSERT_TRUE(os::write_file_replace(app, "MZ").has_value());
    const bool western_code_page = ::GetACP() == 1252;
    const std::string apples = scratch / "\xC3\x84pfel";                    // Äpfel
    const std::string sweets = apples + "\\S\xC3\xBC\xC3\x9F.exe";          // Süß.exe
    const std::string chinese = apples + "\\\xE6\xB5\x8B\xE8\xAF\x95.exe";  // 测试.exe

    struct Case {
        std::string name;
        LinkFields saved;
        std::string expected_target;  // "" when the code page decides it
        std::string also_accepted = {};
    };
    const Case cases[] = {
        {"local", {app, "--start \"quoted arg\"", app_folder}, app},
        {"network share", {"\\\\server\\share\\app.exe", "/s", "\\\\server\\share"}, "\\\\server\\share\\app.exe"},
        {"environment", {"%ProgramFiles%\\App\\app.exe", "-e", "%TEMP%"}, full_path("%ProgramFiles%\\App\\app.exe")},
        {"western", {sweets, "\xC3\xBC \xE6\xB5\x8B", apples}, western_code_page ? sweets : ""},
        // Should Wine write the Unicode path one day, the full name is read.
        {"chinese", {chinese, "", apples}, western_code_page ? apples + "\\??.exe" : "", chinese},
    };
    for (const Case& c : cases) {
        const std::string file = scratch / (c.name + ".lnk");
        const std::string saved = save_link(file, c.saved);
        ASSERT_EQ(saved, "") << c.name;
        const auto bytes = os::read_file(file);
        ASSERT_TRUE(bytes.has_value()) << c.name << ": " << bytes.error();
        const std::optional<formats::ShellLink> link = formats::read_shell_link(*bytes);
        ASSERT_TRUE(link.has_value()) << c.name;
        if (!c.expected_target.empty() && link->target != c.also_accepted) {
            EXPECT_EQ(link->target, c.expected_target) << c.name;
        }
        EXPECT_EQ(link->arguments, c.saved.arguments) << c.name;
        EXPECT_EQ(link->working_directory, c.saved.working_directory) << c.name;
    }
}

}  // namespace
}  // namespace qm::formats
