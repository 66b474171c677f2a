// What every Windows source fills from a command line: the program file it
// starts, that file's publisher and description from its version information,
// and whether the program belongs to the operating system. A ProgramFacts
// object serves one call of the platform (one scan or one list) from one
// thread (it may run work of its own on more); it reads each program file's
// version information at most once, and not at all when the data folder's
// record has it for the file as it is.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "formats/windows_values.h"
#include "model/startup_item.h"
#include "platforms/windows/version_cache.h"

namespace qm::windows {

// The program file of a command line as formats::command_program finds it,
// probing this computer's files.
[[nodiscard]] std::string program_file_of_command(std::string_view command);

using formats::CommandProgram;
[[nodiscard]] CommandProgram command_program(std::string_view command);

// The publisher and description from the file's version resource, trying the
// file's own translations first, then 040904b0, 040904e4 and 000004b0. Empty
// texts when the file has no version information.
[[nodiscard]] VersionStrings read_version_strings(const std::string& path);
// The same from a version-information block as the system hands it out.
[[nodiscard]] VersionStrings version_strings_of_block(std::string_view block);

// The size and last-write time of a regular file (what os::path_kind calls a
// file), in one call; none for anything else.
[[nodiscard]] std::optional<FileStamp> file_stamp(const std::string& path);

// The Windows folder, lower-cased with backslashes and no trailing one:
// SystemRoot, or "c:\windows" when the variable is missing or empty.
[[nodiscard]] std::string lower_windows_folder();

// Whether a program file is one of the hosts that run other code (the
// command and script hosts, rundll32, regsvr32, msiexec, conhost): what an
// item started through one is depends on what it runs, not on the file.
[[nodiscard]] bool is_host_program(std::string_view path);

// Whether a program file is part of the operating system, given the
// lower-cased Windows folder. Host programs never are.
[[nodiscard]] bool is_operating_system(std::string_view path, std::string_view lower_windows_folder);

class ProgramFacts {
public:
    // With a data folder, version strings of files unchanged since an earlier
    // scan come from its record (version_cache.h) instead of the files.
    explicit ProgramFacts(std::string data_folder = {});

    // Read at most once per lower-cased path for the life of this object.
    [[nodiscard]] const VersionStrings& version(const std::string& path);
    // What version() will give for each path, read for all of them at once
    // on a few threads (work_pool.h), for a source about to ask for many.
    void read_versions(const std::vector<std::string>& paths);
    // Keeps what was read for the next scan (see the constructor).
    void save_cache() { cache_.save(); }
    [[nodiscard]] bool is_operating_system(std::string_view path) const;

    // command_program with each path probed at most once for the life of this
    // object: hundreds of services run the same host with the same arguments,
    // and under Wine every probe of a path whose case differs from the disk's
    // reads the folders along it. A folder found missing is remembered too,
    // so no file in it is probed: the programs of an uninstalled product
    // often lie side by side.
    [[nodiscard]] CommandProgram command(std::string_view command);

    // Sets `exe` from `command` (adding the warning of an unquoted path to
    // `warnings`), `publisher` and `description` (only when
    // still empty) from the version information, `exe_size` and `exe_time`
    // (file_facts), and `origin` to "Operating system" or "Installed
    // program".
    void fill(model::StartupItem& item);
    // Sets `exe_size` and `exe_time` from the stamp version() took of the
    // item's `exe` (asking version() first when it has not been asked).
    void file_facts(model::StartupItem& item);
    // The publisher version() found for the path, without reading anything:
    // empty when it has not been asked about the path.
    [[nodiscard]] std::string known_publisher(const std::string& path) const;
    // The stamp version() took of the file, without reading anything: none
    // when it has not been asked about the path or found no file.
    [[nodiscard]] std::optional<FileStamp> known_stamp(const std::string& path) const;

private:
    [[nodiscard]] bool is_file(const std::string& path);

    // What version() found for a path: the strings, and the file's stamp
    // that keyed them (none for a missing file).
    struct Known {
        VersionStrings strings;
        std::optional<FileStamp> stamp;
    };

    std::string windows_folder_;
    std::map<std::string, Known> versions_;           // by lower-cased path
    std::map<std::string, bool> probed_;              // whether a file is there, by lower-cased path
    std::set<std::string> missing_folders_;           // lower-cased
    VersionCache cache_;
};

}  // namespace qm::windows
