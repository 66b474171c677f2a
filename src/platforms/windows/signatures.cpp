#include "platforms/windows/signatures.h"

// In this order: each of the trust headers needs the types of the one before.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
#include <mscat.h>
// clang-format on

#include <map>
#include <optional>

#include "os/windows/handle.h"
#include "os/windows/wide.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/work_pool.h"
#include "util/hex.h"
#include "util/text.h"

namespace qm::windows {

namespace {

// The chain errors that mean the signer is not vouched for by a trusted
// root; a certificate that expired since the signing is the check's own
// answer to give, with the signing time in mind.
constexpr DWORD untrusted_chain = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                  CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_REVOKED |
                                  CERT_TRUST_IS_EXPLICIT_DISTRUST | CERT_TRUST_IS_CYCLIC;

std::string certificate_name(PCCERT_CONTEXT certificate, DWORD flags) {
    wchar_t name[512] = {};
    const DWORD got =
        ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name, std::size(name));
    if (got <= 1) return {};
    return replace_control_characters(os::windows::to_utf8(std::wstring(name, got - 1)), false);
}

// One run of the trust check, closed again when it goes out of scope, so
// the provider's state is freed on every path.
class TrustRun {
public:
    explicit TrustRun(WINTRUST_DATA& data) : data_(data) {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        result_ =
            static_cast<std::uint32_t>(::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_));
    }
    ~TrustRun() {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        (void)::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
    }
    TrustRun(const TrustRun&) = delete;
    TrustRun& operator=(const TrustRun&) = delete;

    [[nodiscard]] std::uint32_t result() const { return result_; }

    // The signer's names and whether its chain ends in a trusted root, read
    // from the provider's state while it is open.
    void read_signer(model::TrustAnswers& answers, model::Signature& names) const {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
        if (provider == nullptr) return;
        CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
        if (signer == nullptr || signer->csCertChain == 0) return;
        CRYPT_PROVIDER_CERT* leaf = ::WTHelperGetProvCertFromChain(signer, 0);
        if (leaf == nullptr || leaf->pCert == nullptr) return;
        answers.has_signer = true;
        names.signer = certificate_name(leaf->pCert, 0);
        names.issuer = certificate_name(leaf->pCert, CERT_NAME_ISSUER_FLAG);
        if (signer->pChainContext != nullptr) {
            answers.chain_trusted = (signer->pChainContext->TrustStatus.dwErrorStatus & untrusted_chain) == 0;
        } else {
            // Without the chain's own status, the last certificate of the
            // provider's chain says whether it is a trusted root.
            CRYPT_PROVIDER_CERT* root = ::WTHelperGetProvCertFromChain(signer, signer->csCertChain - 1);
            answers.chain_trusted = root != nullptr && root->fTrustedRoot && signer->dwError == 0;
        }
    }

private:
    WINTRUST_DATA& data_;
    std::uint32_t result_ = 0;
};

WINTRUST_DATA quiet_trust_data() {
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    // Only what is on this computer: no certificate or revocation list is
    // fetched from the network.
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    return data;
}

struct CatalogAdminPolicy {
    using Native = HCATADMIN;
    static Native none() noexcept { return nullptr; }
    static bool is_valid(Native h) noexcept { return h != nullptr; }
    static void close(Native h) noexcept { ::CryptCATAdminReleaseContext(h, 0); }
};
using CatalogAdmin = os::UniqueHandle<CatalogAdminPolicy>;

// A catalog found for a hash, released through the admin context it came from.
class CatalogFound {
public:
    CatalogFound(HCATADMIN admin, HCATINFO info) : admin_(admin), info_(info) {}
    ~CatalogFound() {
        if (info_ != nullptr) ::CryptCATAdminReleaseCatalogContext(admin_, info_, 0);
    }
    CatalogFound(const CatalogFound&) = delete;
    CatalogFound& operator=(const CatalogFound&) = delete;
    [[nodiscard]] HCATINFO get() const { return info_; }

private:
    HCATADMIN admin_;
    HCATINFO info_;
};

// The file's hash as the catalogs list it, SHA-256 where the system offers
// the newer calls, else the older SHA-1 ones; with the admin context it was
// computed for.
struct CatalogHash {
    CatalogAdmin admin;
    std::vector<BYTE> hash;
};

// The SHA-256 calls, which Windows 8 added: looked up in the system's
// trust library, so the program still starts where only the older ones are.
using AcquireContext2 = BOOL(WINAPI*)(HCATADMIN*, const GUID*, PCWSTR, PCCERT_STRONG_SIGN_PARA, DWORD);
using CalcHash2 = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
struct NewerCatalogCalls {
    AcquireContext2 acquire = nullptr;
    CalcHash2 hash = nullptr;
};

const NewerCatalogCalls& newer_catalog_calls() {
    static const NewerCatalogCalls calls = [] {
        NewerCatalogCalls found;
        // Linked by the program already, so this finds it loaded.
        HMODULE trust = ::GetModuleHandleW(L"wintrust.dll");
        if (trust == nullptr) return found;
        // Through void*: a function pointer of another type is what the
        // lookup gives for any name.
        found.acquire = reinterpret_cast<AcquireContext2>(
            reinterpret_cast<void*>(::GetProcAddress(trust, "CryptCATAdminAcquireContext2")));
        found.hash = reinterpret_cast<CalcHash2>(
            reinterpret_cast<void*>(::GetProcAddress(trust, "CryptCATAdminCalcHashFromFileHandle2")));
        return found;
    }();
    return calls;
}

std::optional<CatalogHash> catalog_hash(HANDLE file) {
    CatalogHash found;
    GUID driver_action = DRIVER_ACTION_VERIFY;
    const NewerCatalogCalls& newer = newer_catalog_calls();
    if (newer.acquire != nullptr && newer.hash != nullptr &&
        newer.acquire(found.admin.put(), &driver_action, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != FALSE) {
        DWORD size = 0;
        (void)newer.hash(found.admin.get(), file, &size, nullptr, 0);
        found.hash.resize(size);
        if (size > 0 && newer.hash(found.admin.get(), file, &size, found.hash.data(), 0) != FALSE) return found;
    }
    if (!::CryptCATAdminAcquireContext(found.admin.put(), &driver_action, 0)) return std::nullopt;
    DWORD size = 0;
    (void)::CryptCATAdminCalcHashFromFileHandle(file, &size, nullptr, 0);
    found.hash.resize(size);
    if (size == 0 || !::CryptCATAdminCalcHashFromFileHandle(file, &size, found.hash.data(), 0)) return std::nullopt;
    return found;
}

// The catalog's answer for the file, when a system catalog lists its hash.
void check_catalog(const std::wstring& path, HANDLE file, model::TrustAnswers& answers, model::Signature& names) {
    std::optional<CatalogHash> hashed = catalog_hash(file);
    if (!hashed) return;
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    const CatalogFound catalog(hashed->admin.get(),
                               ::CryptCATAdminEnumCatalogFromHash(hashed->admin.get(), hashed->hash.data(),
                                                                  static_cast<DWORD>(hashed->hash.size()), 0, nullptr));
    if (catalog.get() == nullptr) return;
    CATALOG_INFO info{};
    info.cbStruct = sizeof info;
    if (!::CryptCATCatalogInfoFromContext(catalog.get(), &info, 0)) return;
    answers.catalog_found = true;
    // The member is named in the catalog by its hash in upper-case hex.
    std::string tag = to_hex(std::string_view(reinterpret_cast<const char*>(hashed->hash.data()), hashed->hash.size()));
    for (char& c : tag) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::wstring wide_tag = os::windows::to_wide(tag);
    WINTRUST_CATALOG_INFO member{};
    member.cbStruct = sizeof member;
    member.pcwszCatalogFilePath = info.wszCatalogFile;
    member.pcwszMemberTag = wide_tag.c_str();
    member.pcwszMemberFilePath = path.c_str();
    member.hMemberFile = file;
    member.pbCalculatedFileHash = hashed->hash.data();
    member.cbCalculatedFileHash = static_cast<DWORD>(hashed->hash.size());
    member.hCatAdmin = hashed->admin.get();
    WINTRUST_DATA data = quiet_trust_data();
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &member;
    const TrustRun run(data);
    answers.catalog = run.result();
    model::TrustAnswers ignored;
    run.read_signer(ignored, names);
}

}  // namespace

model::Signature check_signature(const std::string& path) {
    using model::SignatureVerdict;
    const std::optional<FileStamp> stamp = file_stamp(path);
    if (!stamp) return model::Signature{SignatureVerdict::not_checked, "", "", "The program file was not found."};
    if (stamp->size > largest_checked)
        return model::Signature{SignatureVerdict::not_checked, "", "",
                                "The file is larger than 256 MiB, so it was not "
                                "checked."};
    const std::wstring wide = os::windows::to_wide(path);
    const os::windows::Handle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return model::Signature{SignatureVerdict::not_checked, "", "", "The program file could not be opened."};

    model::TrustAnswers answers;
    model::Signature names;
    {
        WINTRUST_FILE_INFO file_info{};
        file_info.cbStruct = sizeof file_info;
        file_info.pcwszFilePath = wide.c_str();
        file_info.hFile = file.get();
        WINTRUST_DATA data = quiet_trust_data();
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file_info;
        const TrustRun run(data);
        answers.embedded = run.result();
        run.read_signer(answers, names);
    }
    model::Signature verdict = model::verdict_of_trust(answers);
    if (verdict.verdict == SignatureVerdict::unsigned_file) {
        ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
        names = {};
        check_catalog(wide, file.get(), answers, names);
        verdict = model::verdict_of_trust(answers);
    }
    verdict.signer = std::move(names.signer);
    verdict.issuer = std::move(names.issuer);
    return verdict;
}

namespace {

// {"format":1,"files":[[path, size, last-write time, time read, verdict,
// signer, issuer, note], ...]}; the numbers as decimal text.
constexpr int format = 1;
constexpr std::string_view list_name = "files";

}  // namespace

SignatureChecks::SignatureChecks(std::string data_folder, std::uint64_t now)
    : folder_(std::move(data_folder)), now_(now) {
    load();
}

void SignatureChecks::load() {
    if (folder_.empty()) return;
    const std::optional<json::JsonValue> files = read_record(folder_, file_name, file_limit, format, list_name);
    if (!files) return;
    for (const json::JsonValue& entry : files->as_array()) {
        if (!entry.is_array() || entry.as_array().size() != 8) continue;
        const json::JsonValue::Array& fields = entry.as_array();
        const std::optional<std::uint64_t> size = decimal_of(fields[1]);
        const std::optional<std::uint64_t> written = decimal_of(fields[2]);
        const std::optional<std::uint64_t> read = decimal_of(fields[3]);
        bool texts = fields[0].is_string();
        for (std::size_t i = 4; i < 8; ++i) texts = texts && fields[i].is_string();
        if (!size || !written || !read || !texts) continue;
        const std::optional<model::SignatureVerdict> verdict = model::read_signature_verdict(fields[4].as_string());
        if (!verdict) continue;
        entries_.add_read(fields[0].as_string(), {FileStamp{*size, *written}, *read,
                                                  model::Signature{*verdict, fields[5].as_string(),
                                                                   fields[6].as_string(), fields[7].as_string()},
                                                  false});
    }
}

void SignatureChecks::check(std::vector<model::StartupItem>& items, const ProgramFacts* programs) {
    // Each distinct file once, spelled as first met.
    std::map<std::string, std::size_t> index;  // lower-cased path -> position in `paths`
    std::vector<std::string> paths;
    for (const model::StartupItem& item : items) {
        if (item.exe.empty()) continue;
        if (index.emplace(to_lower_ascii(item.exe), paths.size()).second) paths.push_back(item.exe);
    }
    std::vector<std::optional<FileStamp>> stamps(paths.size());
    std::vector<std::size_t> unknown;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        stamps[i] = programs != nullptr ? programs->known_stamp(paths[i]) : std::nullopt;
        if (!stamps[i]) unknown.push_back(i);
    }
    run_on_workers(unknown.size(), [&](std::size_t j) { stamps[unknown[j]] = file_stamp(paths[unknown[j]]); });
    std::vector<model::Signature> verdicts(paths.size());
    std::vector<std::size_t> to_check;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const model::Signature* kept = stamps[i] ? entries_.find(to_lower_ascii(paths[i]), *stamps[i], now_) : nullptr;
        if (kept != nullptr) {
            verdicts[i] = *kept;
        } else {
            to_check.push_back(i);
        }
    }
    run_on_workers(to_check.size(),
                   [&](std::size_t j) { verdicts[to_check[j]] = check_signature(paths[to_check[j]]); });
    for (std::size_t i : to_check) {
        // A file that could not be read is asked again next time; a stamp
        // too fresh to tell a later change by is not kept either.
        const bool keepable =
            stamps[i] && settled(stamps[i]->written, now_) &&
            (verdicts[i].verdict != model::SignatureVerdict::not_checked || stamps[i]->size > largest_checked);
        entries_.store(to_lower_ascii(paths[i]), stamps[i].value_or(FileStamp{}), now_, verdicts[i], keepable);
    }
    for (model::StartupItem& item : items) {
        if (!item.exe.empty()) item.signature = verdicts[index.at(to_lower_ascii(item.exe))];
    }
}

void SignatureChecks::save() {
    if (folder_.empty() || !entries_.settle()) return;
    json::JsonValue files = json::JsonValue::array();
    for (const auto& [path, entry] : entries_.all()) {
        const model::Signature& kept = entry.kept;
        files.push_back(json::JsonValue(json::JsonValue::Array{
            json::JsonValue(path), json::JsonValue(std::to_string(entry.stamp.size)),
            json::JsonValue(std::to_string(entry.stamp.written)), json::JsonValue(std::to_string(entry.read)),
            json::JsonValue(std::string(model::word_text(kept.verdict))), json::JsonValue(kept.signer),
            json::JsonValue(kept.issuer), json::JsonValue(kept.note)}));
    }
    // The record only saves work: without it the next scan checks the files again.
    write_record(folder_, file_name, file_limit, format, list_name, std::move(files));
}

}  // namespace qm::windows
