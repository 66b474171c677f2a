// A small Linux computer in a scratch folder for the Linux platform's tests:
// unit files with their *.wants links, autostart files, crontabs and a dpkg
// database, and a platform that works under it as its root.
#pragma once
#ifdef __linux__

#include <functional>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/journal.h"
#include "knowledge/builtin_pack.h"
#include "os/files.h"
#include "platforms/linux/linux_platform.h"
#include "platforms/linux/linux_system.h"
#include "os/os_test_support.h"
#include "platforms/linux/exact_files.h"
#include "support/run_program.h"

namespace qm::test {

inline bool systemctl_present() {
    return os::path_kind("/usr/bin/systemctl") == os::PathKind::file ||
           os::path_kind("/bin/systemctl") == os::PathKind::file;
}

class LinuxTree {
public:
    static constexpr const char* home = "/home/ada";

    // A path of the computer described, as written on this machine.
    [[nodiscard]] std::string at(std::string_view absolute) const { return root_.path() + std::string(absolute); }

    void write(std::string_view absolute, std::string_view text) const {
        const std::string path = at(absolute);
        ASSERT_TRUE(os::create_folders(path.substr(0, path.rfind('/'))).has_value());
        ASSERT_TRUE(os::write_file_replace(path, text).has_value());
    }
    void link(std::string_view absolute, std::string_view target) const {
        const std::string path = at(absolute);
        ASSERT_TRUE(os::create_folders(path.substr(0, path.rfind('/'))).has_value());
        ASSERT_TRUE(linux::make_link(std::string(target), path).has_value());
    }
    [[nodiscard]] std::string read(std::string_view absolute) const {
        return os::read_file(at(absolute)).value_or("<missing>");
    }
    [[nodiscard]] bool exists(std::string_view absolute) const {
        return linux::is_link(at(absolute)) || os::path_kind(at(absolute)) != os::PathKind::missing;
    }

    [[nodiscard]] linux::LinuxContext context(bool admin) const {
        linux::LinuxContext context;
        context.root = linux::LinuxRoot{root_.path()};
        context.facts = model::SystemFacts{"linux", "Test Linux 1", "testhost", "ada", home, admin, false, true, {}};
        context.runner = [](const os::ToolRun& run) { return os::run_tool(run); };
        context.memory_folder = memory_.path();
        return context;
    }
    [[nodiscard]] std::unique_ptr<model::Platform> platform(bool admin) const {
        return std::make_unique<linux::LinuxPlatform>(context(admin),
                                                      [] { return knowledge::builtin_pack().locations; });
    }
    [[nodiscard]] const std::string& root() const { return root_.path(); }

private:
    ScratchFolder root_;
    ScratchFolder memory_;  // what the platform keeps for exact undo, outside the root
};

inline std::string service_unit(std::string_view description, std::string_view exec, std::string_view wanted_by) {
    std::string text =
        "[Unit]\nDescription=" + std::string(description) + "\n\n[Service]\nExecStart=" + std::string(exec) + "\n";
    if (!wanted_by.empty()) text += "\n[Install]\nWantedBy=" + std::string(wanted_by) + "\n";
    return text;
}

inline const model::StartupItem* find_named(const std::vector<model::StartupItem>& items, std::string_view name) {
    for (const model::StartupItem& item : items) {
        if (item.name == name) return &item;
    }
    return nullptr;
}

// Every path under the root with what it is, its mode and its bytes or target.
inline std::map<std::string, std::string> files_of(const std::string& root) {
    std::map<std::string, std::string> state;
    std::function<void(const std::string&)> walk = [&](const std::string& folder) {
        for (const os::FolderEntry& entry : os::list_folder(folder).value_or(std::vector<os::FolderEntry>{})) {
            const std::string path = os::join_path(folder, entry.name);
            const linux::PathState is = linux::read_path_state(path);
            state[path.substr(root.size())] =
                std::to_string(static_cast<int>(is.kind)) + " " + std::to_string(is.mode) + " " + is.data;
            if (is.kind == linux::PathStateKind::folder) walk(path);
        }
    };
    walk(root);
    return state;
}

// The program itself on a tree: its data folder (history, kept file states)
// lies under the root and is left out of the comparison.
struct ProgramOnTree {
    LinuxTree tree;
    std::string home = linux::current_identity().home;
    std::string data = linux::current_identity().root ? "/var/lib/quillmoor" : home + "/.local/share/quillmoor";

    [[nodiscard]] std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> all = files_of(tree.root());
        std::erase_if(all, [&](const auto& entry) {
            return entry.first.starts_with(data) || data.starts_with(entry.first + "/");
        });
        return all;
    }
    [[nodiscard]] ProgramRun run(const std::vector<std::string>& arguments, const std::string& desktop) const {
        return run_program(arguments,
                           {{"QUILLMOOR_LINUX_ROOT", tree.root()}, {"XDG_DATA_HOME", ""}, {"XDG_CURRENT_DESKTOP", desktop}});
    }
    [[nodiscard]] std::vector<engine::JournalRecord> history() const {
        return engine::read_journal_file(tree.at(data + "/journal.jsonl"));
    }
};

}  // namespace qm::test

#endif
