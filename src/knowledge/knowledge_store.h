// The knowledge store: which knowledge is in force, and the knowledge files in
// the data folder's `knowledge` folder (settings.json, the user's own rules in
// local.json, installed update packs "pack-{version}.json" and the packs they
// replaced in `previous`). Loads on first use and again after any change;
// installing, importing and rolling back replace the loaded knowledge as a
// whole, and readers keep the snapshot they already hold. Every method is
// thread-safe. A failed update, import or rollback leaves the knowledge in
// force as it was.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/data_folder.h"
#include "json/json.h"
#include "knowledge/knowledge_pack.h"
#include "os/run_tool.h"
#include "util/result.h"

namespace qm::knowledge {

inline constexpr std::string_view default_knowledge_url =
    "https://quillmoor.moorfield-software.example/quillmoor/knowledge.json";

struct KnowledgeSettings {
    bool auto_check = false;
    std::string url;  // empty: the default address
    std::string last_check;
    std::string last_result;

    // The update address: the one set, else the default.
    [[nodiscard]] std::string address() const;
};

// One loaded state of the store; never changed after it is built.
struct LoadedKnowledge {
    const KnowledgePack* builtin = nullptr;
    KnowledgePack installed;   // local.json plus the newest installed pack that is newer than the built-in one
    std::string pack_version;  // of the installed pack in force; empty when none is
    std::string pack_published;
    std::string pack_description;
    std::size_t local_rules = 0;
    KnowledgeLocations locations;  // built-in locations with the installed ones merged in
    KnowledgeSettings settings;
    std::vector<std::string> notes;

    // "update {version}" when an installed pack is in force, else "local".
    [[nodiscard]] std::string installed_source() const;
    // The version in force: the installed pack's, else the built-in one's.
    [[nodiscard]] const std::string& version_in_force() const;
};


// The downloader: the system's /usr/bin/curl, or on Windows curl.exe by its
// full path in the system folder, never one a search would find
// (os/system_tool.h).
[[nodiscard]] std::string curl_program();

class KnowledgeStore {
public:
    explicit KnowledgeStore(model::DataFolder folder, os::ToolRunner runner = os::run_tool);

    [[nodiscard]] std::shared_ptr<const LoadedKnowledge> current();
    [[nodiscard]] std::string knowledge_folder() const;

    [[nodiscard]] json::JsonValue status_json();

    // Downloads from `address` (empty: the settings' address, else the
    // default one), checks and installs when newer, records the run in the
    // settings. Gives the report, or the reason it failed.
    [[nodiscard]] Result<std::string> update(std::string address);

    // Checks and installs a pack text; gives the installed pack.
    [[nodiscard]] Result<KnowledgePack> install(std::string_view text);

    [[nodiscard]] Result<std::string> rollback();

    [[nodiscard]] Result<void> save_settings(bool auto_check, std::string url);

    // What the window server runs once on its own thread at start.
    void automatic_check(bool demo);

    // Downloads one address with curl.exe; the decoded text or the message.
    [[nodiscard]] Result<std::string> download(const std::string& address);

private:
    std::shared_ptr<const LoadedKnowledge> load();
    void drop_loaded();
    void record_run(const std::string& result);
    Result<std::string> run_update(const std::string& address);

    model::DataFolder folder_;
    os::ToolRunner runner_;
    std::mutex load_lock_;      // one load at a time
    std::mutex files_lock_;     // one change of the files at a time
    std::mutex snapshot_lock_;  // guards loaded_ only while it is copied
    std::shared_ptr<const LoadedKnowledge> loaded_;
};

// Settings as stored, with defaults for anything missing or malformed.
[[nodiscard]] KnowledgeSettings parse_knowledge_settings(std::string_view text);

}  // namespace qm::knowledge
