// Signature verdicts through the real program under Wine, on program files
// made at test time (tests/platforms/windows/make_signed_programs.sh): signed
// by a CA this test adds to the prefix's trusted roots, the same file with one byte changed
// after signing, signed under a CA nobody trusts, and not signed. Each is
// started by a Run value of its own; the tampered one is rated at least
// caution with the reason.
#include <windows.h>

#include <wincrypt.h>

#include <cstdint>
#include <map>

#include <gtest/gtest.h>

#include "json/json.h"
#include "os/console.h"
#include "os/files.h"
#include "os/windows/wide.h"
#include "os/os_test_support.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/signatures.h"
#include "support/run_program.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string signed_programs_folder() {
    const std::string self = os::own_program_path();
    return self.substr(0, self.find_last_of("/\\")) + "\\signed_programs";
}

// The test CA among the computer's trusted roots, written as Windows keeps
// it (HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\<SHA-1>,
// value Blob: the certificate as a property of id 32, encoding 1), which is
// where Wine's chain engine reads the roots the user added; removed when the
// writer goes.
void trust_root(test::RegistryWriter& registry, const std::string& der) {
    PCCERT_CONTEXT certificate =
        ::CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                       static_cast<DWORD>(der.size()));
    ASSERT_NE(certificate, nullptr);
    BYTE sha1[20] = {};
    DWORD size = sizeof sha1;
    const BOOL hashed = ::CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, sha1, &size);
    ::CertFreeCertificateContext(certificate);
    ASSERT_TRUE(hashed);
    std::string name;
    for (BYTE byte : sha1) {
        static constexpr char digits[] = "0123456789ABCDEF";
        name += digits[byte >> 4];
        name += digits[byte & 15];
    }
    const auto little = [](std::uint32_t value) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
    const std::string key = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + name;
    registry.own_key(HKEY_LOCAL_MACHINE, key);
    registry.write(HKEY_LOCAL_MACHINE, key, 0, L"Blob", REG_BINARY,
                   little(32) + little(1) + little(static_cast<std::uint32_t>(der.size())) + der);
}

TEST(Signatures, EachMadeProgramGetsItsOwnVerdictThroughTheProgram) {
    const std::string folder = signed_programs_folder();
    if (Result<std::string> why = os::read_file(folder + "\\why.txt")) {
        FAIL() << *why;
    }
    Result<std::string> der = os::read_file(folder + "\\ca.der");
    ASSERT_TRUE(der.has_value()) << "the signed programs were not made: " << folder;
    test::RegistryWriter registry;
    trust_root(registry, *der);

    const std::string prefix = "QmSign" + test::random_hex(4);
    const std::map<std::string, std::string> expected{{"signed", "verified"},
                                                      {"tampered", "tampered"},
                                                      {"untrusted", "signed-untrusted"},
                                                      {"unsigned", "unsigned"}};
    for (const auto& [file, verdict] : expected) {
        registry.write_text(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(prefix + "-" + file),
                            os::windows::to_wide("\"" + folder + "\\" + file + ".exe\""));
    }
    test::ScratchFolder data;
    const test::ProgramRun listed = test::run_program({"list", "--filter", prefix, "--json"},
                                                      {{"LOCALAPPDATA", data.path()}, {"ProgramData", data.path()}});
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    Result<json::JsonValue> items = json::parse(listed.out);
    ASSERT_TRUE(items.has_value()) << listed.out;
    ASSERT_EQ(items->as_array().size(), expected.size()) << listed.out;
    for (const json::JsonValue& item : items->as_array()) {
        const std::string name = json::get_text(item, "name");
        const std::string file = name.substr(prefix.size() + 1);
        const json::JsonValue* signature = json::get(item, "signature");
        ASSERT_NE(signature, nullptr) << name;
        EXPECT_EQ(json::get_text(*signature, "verdict"), expected.at(file)) << name << ": " << json::write(*signature);
        if (file == "signed") {
            EXPECT_EQ(json::get_text(*signature, "signer"), "Code Page Publisher");
        }
        if (file == "tampered") {
            const std::string level = json::get_text(*json::get(item, "risk"), "level");
            EXPECT_TRUE(level == "caution" || level == "high" || level == "unknown") << level;
            EXPECT_NE(json::write(item).find("The program file was changed after it was signed."), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace qm::windows
