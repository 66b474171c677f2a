#include <gtest/gtest.h>

#include "model/signature.h"

namespace qm::model {
namespace {

// The trust check's answers, as the platform gathers them, and the verdict
// each set gives: success counts only with a trusted chain, a file without
// a signature of its own may be vouched for by a catalog.
TEST(Signature, VerdictCombinesTheCheckWithTheChain) {
    const struct {
        TrustAnswers answers;
        SignatureVerdict verdict;
    } cases[] = {
        {{0, true, true, false, 0}, SignatureVerdict::verified},
        {{0, true, false, false, 0}, SignatureVerdict::signed_untrusted},  // self-signed, check said yes
        {{0, false, false, false, 0}, SignatureVerdict::signed_untrusted},
        {{0x80096010, true, false, false, 0}, SignatureVerdict::tampered},
        {{0x800B0109, true, false, false, 0}, SignatureVerdict::signed_untrusted},
        {{0x800B010A, true, false, false, 0}, SignatureVerdict::signed_untrusted},
        {{0x800B0101, true, true, false, 0}, SignatureVerdict::signed_untrusted},
        {{0x800B0100, false, false, false, 0}, SignatureVerdict::unsigned_file},
        {{0x800B0003, false, false, false, 0}, SignatureVerdict::unsigned_file},
        {{0x800B0100, false, false, true, 0}, SignatureVerdict::catalog},
        {{0x800B0100, false, false, true, 0x800B0109}, SignatureVerdict::signed_untrusted},
        {{0x80092003, false, false, false, 0}, SignatureVerdict::not_checked},
    };
    for (const auto& c : cases) {
        const Signature found = verdict_of_trust(c.answers);
        EXPECT_EQ(word_text(found.verdict), word_text(c.verdict)) << std::hex << c.answers.embedded;
        if (c.verdict == SignatureVerdict::not_checked) {
            EXPECT_NE(found.note.find("0x80092003"), std::string::npos);
        }
    }
}

TEST(Signature, SignerAgreesWithAPublisherOfTheSameMaker) {
    const struct {
        const char* signer;
        const char* publisher;
        std::optional<bool> agrees;
    } cases[] = {
        {"Microsoft Windows", "Microsoft Corporation", true},
        {"Spotify AB", "Spotify Ltd", true},
        {"Valve Corp.", "Valve Corporation", true},
        {"Globex Corporation", "Acme Software Ltd", false},
        {"Micro Soft", "Microsoft", false},
        {"", "Acme", std::nullopt},
        {"Acme", "", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(signer_agrees(c.signer, c.publisher), c.agrees) << c.signer;
}

TEST(Signature, EveryVerdictReadsBackFromItsWord) {
    for (SignatureVerdict verdict :
         {SignatureVerdict::verified, SignatureVerdict::signed_untrusted, SignatureVerdict::tampered,
          SignatureVerdict::unsigned_file, SignatureVerdict::catalog, SignatureVerdict::modified,
          SignatureVerdict::unpackaged, SignatureVerdict::not_checked}) {
        EXPECT_EQ(read_signature_verdict(word_text(verdict)), verdict);
    }
    EXPECT_EQ(read_signature_verdict("Verified"), std::nullopt);
}

}  // namespace
}  // namespace qm::model
