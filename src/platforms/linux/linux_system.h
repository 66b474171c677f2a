// What the Linux platform needs of the system beyond the shared seams:
// symbolic links (systemd enables a unit by linking it into a target's
// *.wants folder), who runs the program, and the computer's name. Also the
// folder a test may put in place of "/" (QUILLMOOR_LINUX_ROOT): every path the
// platform reads or writes goes through `LinuxRoot::at`, so a test root keeps
// the platform away from the real machine. Stateless; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/platform.h"
#include "os/run_tool.h"
#include "util/result.h"

namespace qm::linux {

struct LinuxRoot {
    std::string folder;  // empty: the real "/"

    // The path on this machine of an absolute path of the computer described.
    [[nodiscard]] std::string at(std::string_view absolute) const;
    [[nodiscard]] bool is_test_root() const { return !folder.empty(); }
};

// The root named by QUILLMOOR_LINUX_ROOT (empty when unset or empty).
[[nodiscard]] LinuxRoot root_from_environment();

// True when `path` is a symbolic link (whether or not its target exists).
[[nodiscard]] bool is_link(const std::string& path);
// When the file, folder or link itself at `path` was last written, in
// seconds since 1970, and its size; zero for both when it is not there.
struct FileTimes {
    std::int64_t modified = 0;
    std::uint64_t size = 0;
};
[[nodiscard]] FileTimes file_times(const std::string& path);
// The same for what a link points to.
[[nodiscard]] FileTimes target_times(const std::string& path);
// The text of a link; an error when it is not one.
[[nodiscard]] Result<std::string> link_target(const std::string& path);
// Creates a link at `path` pointing to `target`; an existing link there is
// replaced, anything else refused.
[[nodiscard]] Result<void> make_link(const std::string& target, const std::string& path);

// What every part of the platform works with: where "/" is, the facts read at
// start (whose `home` is the computer's path, not the test root's), how
// system tools are run, and whether systemd runs this computer.
struct LinuxContext {
    LinuxRoot root;
    model::SystemFacts facts;
    os::ToolRunner runner;
    bool systemd_running = false;
    // Where what each switch changed in the files is kept, so the opposite
    // switch can put them back exactly; empty: nothing is kept.
    std::string memory_folder;
    // The program runs in an SSH session (SSH_CONNECTION is set), which the
    // SSH server must not be switched off under.
    bool over_ssh = false;
    // XDG_CURRENT_DESKTOP of the session ("GNOME", "ubuntu:GNOME"); empty when unknown.
    std::string current_desktop;

    // A folder of the knowledge's lists, "~" standing for the home folder.
    [[nodiscard]] std::string expand(std::string_view folder) const;
    // The names of the ".desktop" files in such a folder, sorted; none when
    // it cannot be read.
    [[nodiscard]] std::vector<std::string> desktop_files(std::string_view folder) const;
    // Whether a program file exists under the root: an absolute path as it
    // is, a bare name in the usual program folders.
    [[nodiscard]] bool program_exists(std::string_view program) const;
};

struct Identity {
    std::string user;
    std::string home;
    bool root = false;  // effective user id 0
};
// The effective user, with the home folder from HOME or the password database.
[[nodiscard]] Identity current_identity();
[[nodiscard]] std::string host_name();

}  // namespace qm::linux
