#include "model/signature.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <utility>
#include <vector>

namespace qm::model {

namespace {

constexpr std::array<std::pair<SignatureVerdict, std::string_view>, 8> verdict_words{{
    {SignatureVerdict::verified, "verified"},
    {SignatureVerdict::signed_untrusted, "signed-untrusted"},
    {SignatureVerdict::tampered, "tampered"},
    {SignatureVerdict::unsigned_file, "unsigned"},
    {SignatureVerdict::catalog, "catalog"},
    {SignatureVerdict::modified, "modified"},
    {SignatureVerdict::unpackaged, "unpackaged"},
    {SignatureVerdict::not_checked, "not checked"},
}};

// The answers of the Windows trust check this rule tells apart.
constexpr std::uint32_t no_signature = 0x800B0100;          // the file carries none
constexpr std::uint32_t subject_form_unknown = 0x800B0003;  // not a form that can be signed
constexpr std::uint32_t provider_unknown = 0x800B0001;
constexpr std::uint32_t bad_digest = 0x80096010;      // the file's hash differs from the signed one
constexpr std::uint32_t untrusted_root = 0x800B0109;  // the chain ends in a root nobody trusts
constexpr std::uint32_t chaining = 0x800B010A;        // the chain could not be built to a root
constexpr std::uint32_t untrusted_test_root = 0x800B010D;
constexpr std::uint32_t expired = 0x800B0101;
constexpr std::uint32_t explicit_distrust = 0x800B0111;
constexpr std::uint32_t revoked = 0x800B010C;
constexpr std::uint32_t wrong_usage = 0x800B0110;

// Company-form words that say nothing about who the maker is.
constexpr std::array<std::string_view, 15> form_words = {"inc",     "incorporated", "corp", "corporation", "ltd",
                                                         "limited", "llc",          "gmbh", "co",          "company",
                                                         "ag",      "ab",           "sa",   "bv",          "plc"};

std::vector<std::string> name_words(std::string_view name) {
    std::vector<std::string> words;
    std::string word;
    auto end_word = [&] {
        if (!word.empty() && std::find(form_words.begin(), form_words.end(), word) == form_words.end())
            words.push_back(word);
        word.clear();
    };
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || byte >= 0x80) {
            word.push_back(static_cast<char>(std::tolower(byte)));
        } else {
            end_word();
        }
    }
    end_word();
    return words;
}

std::string code_text(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

}  // namespace

std::string_view word_text(SignatureVerdict verdict) {
    for (const auto& [value, text] : verdict_words) {
        if (value == verdict) return text;
    }
    return {};
}

std::optional<SignatureVerdict> read_signature_verdict(std::string_view text) {
    for (const auto& [value, word] : verdict_words) {
        if (word == text) return value;
    }
    return std::nullopt;
}

std::optional<bool> signer_agrees(std::string_view signer, std::string_view publisher) {
    std::vector<std::string> a = name_words(signer);
    std::vector<std::string> b = name_words(publisher);
    if (a.empty() || b.empty()) return std::nullopt;
    if (a.size() > b.size()) std::swap(a, b);
    return std::equal(a.begin(), a.end(), b.begin());
}

bool vouches(SignatureVerdict verdict) {
    return verdict == SignatureVerdict::verified || verdict == SignatureVerdict::catalog;
}

bool changed_after_signing(SignatureVerdict verdict) {
    return verdict == SignatureVerdict::tampered || verdict == SignatureVerdict::modified;
}

json::JsonValue signature_json(const Signature& signature, std::string_view publisher) {
    json::ObjectBuilder out;
    out.string("verdict", std::string(word_text(signature.verdict)))
        .string("signer", signature.signer)
        .string("issuer", signature.issuer)
        .string("note", signature.note);
    if (const std::optional<bool> agrees = signer_agrees(signature.signer, publisher)) out.flag("agrees", *agrees);
    return out.done();
}

std::string signature_text(const Signature& signature) {
    const std::string word(word_text(signature.verdict));
    if (signature.verdict == SignatureVerdict::not_checked && !signature.note.empty())
        return word + ": " + signature.note;
    if (signature.signer.empty()) return word;
    return signature.signer + " (" + word + ")";
}

Signature verdict_of_trust(const TrustAnswers& answers) {
    Signature signature;
    const std::uint32_t code = answers.embedded;
    if (code == 0) {
        signature.verdict = answers.has_signer && answers.chain_trusted ? SignatureVerdict::verified
                                                                        : SignatureVerdict::signed_untrusted;
        if (signature.verdict == SignatureVerdict::signed_untrusted)
            signature.note = "The signer's chain does not end in a trusted root.";
        return signature;
    }
    if (code == bad_digest) {
        signature.verdict = SignatureVerdict::tampered;
        signature.note = "The file's contents differ from what was signed.";
        return signature;
    }
    if (code == untrusted_root || code == chaining || code == untrusted_test_root || code == expired ||
        code == explicit_distrust || code == revoked || code == wrong_usage) {
        signature.verdict = SignatureVerdict::signed_untrusted;
        signature.note = code == expired             ? "The signer's certificate has expired."
                         : code == explicit_distrust ? "The signer's certificate is explicitly distrusted."
                         : code == revoked           ? "The signer's certificate was revoked."
                                                     : "The signer's chain does not end in a trusted root.";
        return signature;
    }
    if (code == no_signature || code == subject_form_unknown || code == provider_unknown) {
        if (answers.catalog_found) {
            signature.verdict = answers.catalog == 0 ? SignatureVerdict::catalog : SignatureVerdict::signed_untrusted;
            if (answers.catalog != 0)
                signature.note = "A system catalog lists the file, but the catalog's check answered " +
                                 code_text(answers.catalog) + ".";
            return signature;
        }
        signature.verdict = SignatureVerdict::unsigned_file;
        return signature;
    }
    signature.verdict = SignatureVerdict::not_checked;
    signature.note = "The trust check answered " + code_text(code) + ".";
    return signature;
}

}  // namespace qm::model
