// Whether each program file is what its signer signed: the system's trust
// check of the file's own signature, or of the system catalog that lists its
// hash, combined with the signer's chain (model::verdict_of_trust). No
// window, no revocation lookups (nothing goes to the network), and files
// over `largest_checked` are not read. A SignatureChecks object serves one
// scan from one thread and spreads the checks over a few (work_pool.h); verdicts of
// files unchanged since an earlier scan come from the data folder's record
// (program-signatures.json), trusted for a day like the other records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/signature.h"
#include "model/startup_item.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/record_file.h"
#include "platforms/windows/version_cache.h"

namespace qm::windows {

inline constexpr std::uint64_t largest_checked = 256ull << 20;

// The verdict for one file, read now.
[[nodiscard]] model::Signature check_signature(const std::string& path);

class SignatureChecks {
public:
    static constexpr std::string_view file_name = "program-signatures.json";
    static constexpr std::size_t entry_limit = 8192;
    static constexpr std::size_t file_limit = 4u << 20;

    // An empty folder keeps nothing between scans.
    SignatureChecks(std::string data_folder, std::uint64_t now);

    // Sets `signature` on every item with a program file, each distinct file
    // checked once. The stamps `programs` already took of the files are used
    // rather than asked again.
    void check(std::vector<model::StartupItem>& items, const ProgramFacts* programs = nullptr);
    // Keeps what was checked for the next scan.
    void save();

private:
    void load();

    std::string folder_;
    std::uint64_t now_;
    StampedEntries<FileStamp, model::Signature> entries_{entry_limit};
};

}  // namespace qm::windows
