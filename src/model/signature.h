// Who really made an item's program file: the verdict of checking the file
// against its signature (Windows) or against the checksum its package
// recorded (Linux), with the signer and issuer where there is one. Plain
// values; the platforms fill them, the assessment weighs them. The verdict
// from the raw answers of the Windows trust check is here too, as a pure
// function, so the rule is the same wherever it is tested.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"

namespace qm::model {

enum class SignatureVerdict {
    verified,          // signed, trusted chain, the file as signed; or as its package recorded it
    signed_untrusted,  // a sound signature whose chain ends in no trusted root
    tampered,          // the file changed after it was signed
    unsigned_file,     // no signature of its own and none in a system catalog
    catalog,           // signed through a system catalog
    modified,          // differs from the checksum its package recorded
    unpackaged,        // no package owns it
    not_checked,       // the note says why
};

struct Signature {
    SignatureVerdict verdict = SignatureVerdict::not_checked;
    std::string signer;  // the signing certificate's subject name
    std::string issuer;  // who issued that certificate
    std::string note;    // why not checked, or what was compared
    friend bool operator==(const Signature&, const Signature&) = default;
};

// "verified", "signed-untrusted", "tampered", "unsigned", "catalog",
// "modified", "unpackaged", "not checked".
[[nodiscard]] std::string_view word_text(SignatureVerdict verdict);
[[nodiscard]] std::optional<SignatureVerdict> read_signature_verdict(std::string_view text);

// Whether a signer's name and a publisher's name from the version
// information name the same maker: compared without case, punctuation and
// company-form words ("Inc", "Corporation", "Ltd", ...), the shorter a
// whole-word beginning of the longer ("Microsoft Windows" and "Microsoft
// Corporation" agree). None when either is empty.
[[nodiscard]] std::optional<bool> signer_agrees(std::string_view signer, std::string_view publisher);

// The verdicts that vouch for the file as it is.
[[nodiscard]] bool vouches(SignatureVerdict verdict);
// The verdicts that say the file is not what was signed or packaged.
[[nodiscard]] bool changed_after_signing(SignatureVerdict verdict);

// {"verdict", "signer", "issuer", "note", and "agrees" when signer_agrees
// has an answer for `publisher`}.
[[nodiscard]] json::JsonValue signature_json(const Signature& signature, std::string_view publisher);

// "Microsoft Windows (verified)", "unsigned", "not checked: why": the short
// text the list and the window show.
[[nodiscard]] std::string signature_text(const Signature& signature);

// What the Windows trust check gave for one file: its answer for the file's
// own signature, whether the signer's chain ends in a trusted root and is
// complete, and, for a file without a signature of its own, whether a
// system catalog lists its hash and the answer for that catalog.
struct TrustAnswers {
    std::uint32_t embedded = 0;  // the check's result, as its 32-bit code
    bool has_signer = false;     // the signer's certificate could be read
    bool chain_trusted = false;  // the chain ends in a trusted root, with no error
    bool catalog_found = false;
    std::uint32_t catalog = 0;  // the check's result for the catalog, when found
};

// The verdict from those answers. The check alone may answer success for a
// file signed by a certificate of its own, so success counts as verified
// only with a trusted chain.
[[nodiscard]] Signature verdict_of_trust(const TrustAnswers& answers);

}  // namespace qm::model
