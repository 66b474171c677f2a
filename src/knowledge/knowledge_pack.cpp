#include "knowledge/knowledge_pack.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "json/json.h"
#include "util/build_info.h"
#include "util/text.h"

namespace qm::knowledge {

namespace {

using json::JsonValue;

constexpr std::size_t max_rules_per_platform = 5000;
constexpr std::size_t max_run_keys = 100;
constexpr std::size_t max_path_list = 200;
constexpr std::size_t no_limit = std::numeric_limits<std::size_t>::max();

const std::vector<KnowledgeRule> no_rules;

// A missing or non-text member reads as the empty text; the length is counted
// in characters; control characters other than tab are refused.
Result<std::string> read_text(const JsonValue& object, std::string_view key, std::size_t max, std::string_view where) {
    std::string text = json::get_text(object, key);
    if (max != no_limit && count_characters(text) > max) {
        return fail(std::string(where) + ": \"" + std::string(key) + "\" is longer than " + std::to_string(max) +
                    " characters");
    }
    for (unsigned char c : text) {
        if (c < 32 && c != '\t') {
            return fail(std::string(where) + ": \"" + std::string(key) + "\" contains control characters");
        }
    }
    return text;
}

Result<void> check_path(std::string_view path, std::string_view where) {
    if (path.find("..") != std::string_view::npos) {
        return fail(std::string(where) + ": a path may not contain \"..\"");
    }
    bool control = std::any_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
    if (control || count_characters(path) > 300) {
        return fail(std::string(where) + ": a path is too long or has control characters");
    }
    return {};
}

bool is_relative(std::string_view path) {
    return !path.empty() && path.front() != '\\' && path.front() != '/' && path.find(':') == std::string_view::npos;
}

// A member that is missing or not an array reads as an empty list.
const JsonValue::Array& array_member(const JsonValue* object, std::string_view key) {
    static const JsonValue::Array empty;
    if (object == nullptr) return empty;
    const JsonValue* member = json::get(*object, key);
    if (member == nullptr || !member->is_array()) return empty;
    return member->as_array();
}

Result<model::Level> read_level(const JsonValue& object, std::string_view where) {
    std::optional<model::Level> level = model::parse_level(json::get_text(object, "level"));
    if (!level || *level == model::Level::unknown) {
        return fail(std::string(where) + ": level must be safe, low, caution, high or critical");
    }
    return *level;
}

std::string trim_stars(std::string_view pattern) {
    std::size_t begin = pattern.find_first_not_of('*');
    if (begin == std::string_view::npos) return {};
    std::size_t end = pattern.find_last_not_of('*');
    return std::string(pattern.substr(begin, end - begin + 1));
}

// The whole part of a schema number: fractions dropped, NaN as 0, huge values saturated.
long long whole_schema(const JsonValue* schema) {
    if (schema == nullptr || !schema->is_number()) return 0;
    double value = schema->as_number();
    if (std::isnan(value)) return 0;
    if (value >= 9.0e18) return std::numeric_limits<long long>::max();
    if (value <= -9.0e18) return std::numeric_limits<long long>::min();
    return static_cast<long long>(value);
}

Result<std::vector<KnowledgeRule>> read_rules(const JsonValue::Array& list, std::string_view platform) {
    if (list.size() > max_rules_per_platform) {
        return fail(std::string(platform) + ": more than 5000 rules");
    }
    std::vector<KnowledgeRule> rules;
    rules.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string where = std::string(platform) + " rule " + std::to_string(i + 1);
        const JsonValue& element = list[i];
        KnowledgeRule rule;
        rule.pattern = to_lower_ascii(QM_TRY(read_text(element, "match", 120, where)));
        if (trim_stars(rule.pattern).empty()) return fail(where + ": the pattern is empty");
        rule.level = QM_TRY(read_level(element, where));
        rule.effect = QM_TRY(read_text(element, "effect", 500, where));
        if (trim(rule.effect).empty()) return fail(where + ": the effect text is empty");
        if (const JsonValue* system = json::get(element, "system"); system != nullptr) rule.system = system->as_bool();
        rules.push_back(std::move(rule));
    }
    return rules;
}

Result<std::vector<KnowledgeHint>> read_hints(const JsonValue::Array& list) {
    std::vector<KnowledgeHint> hints;
    hints.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string where = "hint " + std::to_string(i + 1);
        const JsonValue& element = list[i];
        KnowledgeHint hint;
        hint.word = to_lower_ascii(QM_TRY(read_text(element, "word", 60, where)));
        if (count_characters(hint.word) < 3) {
            return fail(where +
                        ": the word must be at least 3 characters (a shorter one would match almost every name)");
        }
        hint.level = QM_TRY(read_level(element, where));
        hint.effect = QM_TRY(read_text(element, "effect", 500, where));
        hints.push_back(std::move(hint));
    }
    return hints;
}

// A list of paths; elements that are not text are skipped.
Result<std::vector<std::string>> read_path_list(const JsonValue::Array& list, std::string_view where) {
    if (list.size() > max_path_list) return fail(std::string(where) + ": too many entries");
    std::vector<std::string> paths;
    for (const JsonValue& element : list) {
        if (!element.is_string()) continue;
        QM_TRY_VOID(check_path(element.as_string(), where));
        paths.push_back(element.as_string());
    }
    return paths;
}

Result<std::vector<RunKeyLocation>> read_run_keys(const JsonValue::Array& list) {
    if (list.size() > max_run_keys) return fail("windows run_keys: too many entries");
    std::vector<RunKeyLocation> keys;
    for (const JsonValue& element : list) {
        RunKeyLocation key;
        key.hive = json::get_text(element, "hive");
        if (key.hive != "HKCU" && key.hive != "HKLM") return fail("windows run_keys: hive must be HKCU or HKLM");
        key.view = json::get_text(element, "view");
        if (!key.view.empty() && key.view != "32" && key.view != "64") {
            return fail("windows run_keys: view must be empty, 32 or 64");
        }
        const std::optional<model::Scope> scope = model::read_scope(json::get_text(element, "scope"));
        if (!scope) return fail("windows run_keys: scope must be user or machine");
        key.scope = *scope;
        key.path = json::get_text(element, "path");
        QM_TRY_VOID(check_path(key.path, "windows run_keys path"));
        key.approved = QM_TRY(read_text(element, "approved", 40, "windows run_keys"));
        key.label = QM_TRY(read_text(element, "label", 80, "windows run_keys"));
        key.locked = QM_TRY(read_text(element, "locked", 300, "windows run_keys"));
        keys.push_back(std::move(key));
    }
    return keys;
}

Result<std::vector<StartupFolderLocation>> read_startup_folders(const JsonValue::Array& list) {
    static constexpr std::array<std::string_view, 6> known_env = {"APPDATA",     "ProgramData",     "LOCALAPPDATA",
                                                                  "USERPROFILE", "ALLUSERSPROFILE", "PUBLIC"};
    constexpr std::string_view where = "windows startup_folders";
    std::vector<StartupFolderLocation> folders;
    for (const JsonValue& element : list) {
        StartupFolderLocation folder;
        folder.env = QM_TRY(read_text(element, "env", 40, where));
        if (std::find(known_env.begin(), known_env.end(), folder.env) == known_env.end()) {
            return fail(
                "windows startup_folders: env must be one of APPDATA, ProgramData, LOCALAPPDATA, "
                "USERPROFILE, ALLUSERSPROFILE, PUBLIC");
        }
        folder.sub = json::get_text(element, "sub");
        QM_TRY_VOID(check_path(folder.sub, "windows startup_folders sub"));
        if (!is_relative(folder.sub)) {
            return fail("windows startup_folders: sub must be a relative path (no drive, no leading slash)");
        }
        const std::string scope = QM_TRY(read_text(element, "scope", no_limit, where));
        folder.label = QM_TRY(read_text(element, "label", 80, where));
        folder.hive = json::get_text(element, "hive");
        if (folder.hive != "HKCU" && folder.hive != "HKLM") {
            return fail("windows startup_folders: hive must be HKCU or HKLM");
        }
        // Its items apply to one account or to every user, and say which.
        const std::optional<model::Scope> known_scope = model::read_scope(scope);
        if (!known_scope) return fail("windows startup_folders: scope must be user or machine");
        folder.scope = *known_scope;
        folders.push_back(std::move(folder));
    }
    return folders;
}

Result<std::vector<LaunchdLocation>> read_launchd(const JsonValue::Array& list) {
    constexpr std::string_view where = "macos launchd_dirs";
    std::vector<LaunchdLocation> dirs;
    for (const JsonValue& element : list) {
        LaunchdLocation dir;
        dir.path = json::get_text(element, "path");
        QM_TRY_VOID(check_path(dir.path, where));
        const std::string scope = QM_TRY(read_text(element, "scope", no_limit, where));
        dir.domain = json::get_text(element, "domain");
        if (dir.domain != "gui" && dir.domain != "system") {
            return fail("macos launchd_dirs: domain must be gui or system");
        }
        const std::optional<model::Scope> known_scope = model::read_scope(scope);
        if (!known_scope) return fail("macos launchd_dirs: scope must be user or machine");
        dir.scope = *known_scope;
        dir.system = json::get_flag(element, "system");
        dirs.push_back(std::move(dir));
    }
    return dirs;
}

Result<KnowledgeLocations> read_locations(const JsonValue* locations) {
    const JsonValue* windows = locations ? json::get(*locations, "windows") : nullptr;
    const JsonValue* linux = locations ? json::get(*locations, "linux") : nullptr;
    const JsonValue* macos = locations ? json::get(*locations, "macos") : nullptr;

    KnowledgeLocations out;
    out.run_keys = QM_TRY(read_run_keys(array_member(windows, "run_keys")));
    out.startup_folders = QM_TRY(read_startup_folders(array_member(windows, "startup_folders")));
    out.task_roots = QM_TRY(read_path_list(array_member(windows, "task_roots"), "windows task_roots"));
    out.linux_autostart_dirs = QM_TRY(read_path_list(array_member(linux, "autostart_dirs"), "linux autostart_dirs"));
    out.linux_app_dirs = QM_TRY(read_path_list(array_member(linux, "app_dirs"), "linux app_dirs"));
    out.linux_unit_types = QM_TRY(read_path_list(array_member(linux, "unit_types"), "linux unit_types"));
    out.macos_app_dirs = QM_TRY(read_path_list(array_member(macos, "app_dirs"), "macos app_dirs"));
    for (const std::string& root : out.task_roots) {
        if (!is_relative(root)) {
            return fail("windows task_roots: each must be a relative path (no drive, no leading slash)");
        }
    }
    for (const std::string& type : out.linux_unit_types) {
        bool letters =
            !type.empty() && std::all_of(type.begin(), type.end(), [](char c) { return c >= 'a' && c <= 'z'; });
        if (!letters) return fail("linux unit_types: only lower-case letters");
    }
    out.launchd_dirs = QM_TRY(read_launchd(array_member(macos, "launchd_dirs")));
    return out;
}

void add_missing_texts(std::vector<std::string>& into, const std::vector<std::string>& more) {
    for (const std::string& text : more) {
        if (std::find(into.begin(), into.end(), text) == into.end()) into.push_back(text);
    }
}

}  // namespace

const std::vector<KnowledgeRule>& KnowledgePack::rules_for(std::string_view platform) const {
    for (std::size_t i = 0; i < knowledge_platforms.size(); ++i) {
        if (knowledge_platforms[i] == platform) return rules[i];
    }
    return no_rules;
}

std::size_t KnowledgePack::rule_count() const {
    std::size_t count = 0;
    for (const std::vector<KnowledgeRule>& list : rules) count += list.size();
    return count;
}

Result<KnowledgePack> parse_pack(std::string_view text) {
    if (text.size() > knowledge_pack_max_bytes) {
        return fail(std::string(knowledge_pack_too_large));
    }
    Result<JsonValue> parsed = json::parse(text);
    if (!parsed) return fail("That is not a knowledge pack: " + parsed.error().message);
    const JsonValue& document = *parsed;

    if (json::get_text(document, "format") != "quillmoor-knowledge") {
        return fail("That is not a Quillmoor knowledge pack.");
    }
    long long schema = whole_schema(json::get(document, "schema"));
    if (schema > knowledge_schema_supported) {
        return fail("This pack uses format " + std::to_string(schema) + " but this Quillmoor understands up to " +
                    std::to_string(knowledge_schema_supported) + ". Install a newer Quillmoor to use it.");
    }
    if (schema < 1) return fail("The pack has no format number.");

    KnowledgePack pack;
    pack.version = QM_TRY(read_text(document, "version", 40, "pack"));
    pack.published = QM_TRY(read_text(document, "published", 40, "pack"));
    pack.description = QM_TRY(read_text(document, "description", 300, "pack"));
    pack.min_program = QM_TRY(read_text(document, "min_program", 20, "pack"));

    bool version_ok = !pack.version.empty() && std::all_of(pack.version.begin(), pack.version.end(),
                                                           [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
    if (!version_ok) return fail("The pack's version must be numbers separated by dots, like 2026.11.02.");
    if (!pack.min_program.empty() && compare_versions(pack.min_program, build::version) > 0) {
        return fail("This pack needs Quillmoor " + pack.min_program + " or newer; this is " +
                    std::string(build::version) + ".");
    }

    const JsonValue* rules = json::get(document, "rules");
    for (std::size_t i = 0; i < knowledge_platforms.size(); ++i) {
        pack.rules[i] = QM_TRY(read_rules(array_member(rules, knowledge_platforms[i]), knowledge_platforms[i]));
    }
    const JsonValue* hints = json::get(document, "hints");
    pack.hints = QM_TRY(read_hints(hints && hints->is_array() ? hints->as_array() : JsonValue::Array{}));
    pack.locations = QM_TRY(read_locations(json::get(document, "locations")));
    return pack;
}

int compare_versions(std::string_view a, std::string_view b) {
    auto next_part = [](std::string_view& text) -> unsigned long long {
        std::size_t dot = text.find('.');
        std::string_view part = text.substr(0, dot);
        text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
        unsigned long long value = 0;
        if (part.empty()) return 0;
        for (char c : part) {
            if (c < '0' || c > '9') return 0;
            unsigned digit = static_cast<unsigned>(c - '0');
            if (value > (std::numeric_limits<unsigned long long>::max() - digit) / 10) {
                return std::numeric_limits<unsigned long long>::max();  // saturate, never wrap
            }
            value = value * 10 + digit;
        }
        return value;
    };
    while (!a.empty() || !b.empty()) {
        unsigned long long left = next_part(a);
        unsigned long long right = next_part(b);
        if (left != right) return left < right ? -1 : 1;
    }
    return 0;
}

void merge_locations(KnowledgeLocations& into, const KnowledgeLocations& installed) {
    for (const RunKeyLocation& key : installed.run_keys) {
        bool present = std::any_of(into.run_keys.begin(), into.run_keys.end(), [&](const RunKeyLocation& k) {
            return k.hive == key.hive && k.view == key.view && equal_ignoring_ascii_case(k.path, key.path);
        });
        if (!present) into.run_keys.push_back(key);
    }
    for (const StartupFolderLocation& folder : installed.startup_folders) {
        bool present =
            std::any_of(into.startup_folders.begin(), into.startup_folders.end(), [&](const StartupFolderLocation& f) {
                return f.env == folder.env && equal_ignoring_ascii_case(f.sub, folder.sub);
            });
        if (!present) into.startup_folders.push_back(folder);
    }
    add_missing_texts(into.task_roots, installed.task_roots);
    add_missing_texts(into.linux_autostart_dirs, installed.linux_autostart_dirs);
    add_missing_texts(into.linux_app_dirs, installed.linux_app_dirs);
    add_missing_texts(into.linux_unit_types, installed.linux_unit_types);
    add_missing_texts(into.macos_app_dirs, installed.macos_app_dirs);
    for (const LaunchdLocation& dir : installed.launchd_dirs) {
        bool present = std::any_of(into.launchd_dirs.begin(), into.launchd_dirs.end(),
                                   [&](const LaunchdLocation& d) { return d.path == dir.path; });
        if (!present) into.launchd_dirs.push_back(dir);
    }
}

}  // namespace qm::knowledge
