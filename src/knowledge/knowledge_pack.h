// Knowledge packs: the rules that judge startup items by name, the word hints
// for names no rule knows, and the places where startup items live. A pack
// is one JSON document; parse_pack checks every rule of the format and
// returns a whole pack or the one message of the first check that failed,
// never a partial pack. Values only; no shared state.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/assessment.h"
#include "util/result.h"

namespace qm::knowledge {

struct KnowledgeRule {
    std::string pattern;  // lower-cased; "*" at either end widens the match
    std::string effect;
    model::Level level = model::Level::unknown;
    // "system": true: the name is a part of the operating system, whose
    // program lives where the system keeps its own; elsewhere the name alone
    // proves little.
    bool system = false;
};

struct KnowledgeHint {
    std::string word;  // lower-cased
    std::string effect;
    model::Level level = model::Level::unknown;
};

struct RunKeyLocation {
    std::string hive;      // HKCU or HKLM
    std::string path;      // key path below the hive
    std::string view;      // "", "32" or "64"
    std::string approved;  // start-up approval key name, "" = none
    std::string label;     // kind label of its items
    model::Scope scope = model::Scope::user;
    std::string locked;  // when not empty: why its items cannot be switched
};

struct StartupFolderLocation {
    std::string env;  // APPDATA, ProgramData, LOCALAPPDATA, USERPROFILE, ALLUSERSPROFILE, PUBLIC
    std::string sub;  // relative folder below it
    model::Scope scope = model::Scope::user;
    std::string hive;  // whose approval flags apply
    std::string label;
};

struct LaunchdLocation {
    std::string path;
    model::Scope scope = model::Scope::user;
    std::string domain;  // gui or system
    bool system = false;
};

struct KnowledgeLocations {
    std::vector<RunKeyLocation> run_keys;
    std::vector<StartupFolderLocation> startup_folders;
    std::vector<std::string> task_roots;
    std::vector<std::string> linux_autostart_dirs;
    std::vector<std::string> linux_app_dirs;
    std::vector<std::string> linux_unit_types;
    std::vector<LaunchdLocation> launchd_dirs;
    std::vector<std::string> macos_app_dirs;
};

inline constexpr std::array<std::string_view, 3> knowledge_platforms = {"windows", "linux", "macos"};

struct KnowledgePack {
    std::string version;
    std::string published;
    std::string description;
    std::string min_program;
    std::array<std::vector<KnowledgeRule>, 3> rules;  // in the order of knowledge_platforms
    std::vector<KnowledgeHint> hints;
    KnowledgeLocations locations;

    // The rules for "windows", "linux" or "macos"; none for any other name.
    [[nodiscard]] const std::vector<KnowledgeRule>& rules_for(std::string_view platform) const;
    // Rules for every system together.
    [[nodiscard]] std::size_t rule_count() const;
};

inline constexpr std::size_t knowledge_pack_max_bytes = 3145728;
// The refusal of anything larger, wherever the text comes from.
inline constexpr std::string_view knowledge_pack_too_large =
    "The file is larger than 3 MB, which a knowledge pack never is.";
inline constexpr int knowledge_schema_supported = 1;

[[nodiscard]] Result<KnowledgePack> parse_pack(std::string_view text);

// Compares dotted versions part by part as whole numbers (a part that is not
// a number counts as 0, a missing part as 0). Negative, zero or positive.
[[nodiscard]] int compare_versions(std::string_view a, std::string_view b);

// Adds the installed pack's locations to the built-in ones; the built-in
// entries always stay and duplicates are not added again.
void merge_locations(KnowledgeLocations& into, const KnowledgeLocations& installed);

// Where a platform asks for the places to read (Run keys, Startup folders,
// task folders, autostart folders) of the knowledge in force; asked again at
// every scan, so an update takes effect without a restart.
using LocationsSource = std::function<KnowledgeLocations()>;

}  // namespace qm::knowledge
