// CRL signatures through CryptoAPI: a CA's RSA list revokes the certificate it names, and an
// RSA-PSS list either does the same or, where CryptoAPI cannot check RSA-PSS, refuses nothing
// and has its issuer named once in the diagnostic log.
#include <gtest/gtest.h>

#include <iostream>

#include "pki/crl_cache.h"
#include "pki/pki_results.h"
#include "platform/win32/win32_certificates.h"
#include "platform/win32/win32_folder_files.h"
#include "platform_win32/crl_fixture.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

// No list can be downloaded: the certificates here name no distribution point anyway.
class NoDownloads final : public ICrlRetriever {
public:
    uint32_t RetrieveCrl(std::u16string_view, uint32_t, uint32_t, std::vector<uint8_t>&) override {
        return 0x80092004;
    }
};

class Win32CrlSignatureTest : public ::testing::Test {
protected:
    Win32CrlSignatureTest() {
        Platform& p = tp.Get();
        p.certificates = &certificates;
        p.crlRetriever = &retriever;
        p.folderFiles = &files;
        EXPECT_EQ(certificates.DecodeCertificate(crl_fixture::kLeaf.data(), crl_fixture::kLeaf.size(), leaf), 0u);
        chain.hasSimpleChain = true;
        chain.elements = {crl_fixture::kLeaf, crl_fixture::kCa};
    }
    // Puts the list into the Offline folder and checks the certificate.
    uint32_t CheckWithOfflineList(const std::vector<uint8_t>& list) {
        EXPECT_EQ(cache.EnsureCrlFolders(), 0u);
        const std::u16string path = cache.FolderPath(kCrlOfflineFolder) + u"/list.crl";
        EXPECT_EQ(files.WriteWholeFile(path, list.data(), list.size()), 0u);
        return cache.CheckRevocation(leaf, chain);
    }

    TestPlatform tp;
    win32::Win32Certificates certificates;
    win32::Win32FolderFiles files;
    NoDownloads retriever;
    DecodedCertificate leaf;
    CertChainResult chain;
    CCrlCache cache {tp.Get()};
};

TEST_F(Win32CrlSignatureTest, AnRsaListOfTheCaRevokesTheCertificateItNames) {
    DecodedCertificate ca;
    ASSERT_EQ(certificates.DecodeCertificate(crl_fixture::kCa.data(), crl_fixture::kCa.size(), ca), 0u);
    EXPECT_EQ(certificates.VerifyCrlSignature(crl_fixture::kPkcs1List, ca), 0u);
    EXPECT_NE(certificates.NameToText(ca.subject).find(u"CN=Wine Test CA"), std::u16string::npos);
    EXPECT_EQ(CheckWithOfflineList(crl_fixture::kPkcs1List), PkiResult::CertRevoked);
    EXPECT_TRUE(tp.DiagnosticLines().empty());
}

TEST_F(Win32CrlSignatureTest, AnRsaPssListIsUsedOrItsIssuerIsNamedInTheDiagnosticLog) {
    const uint32_t result = CheckWithOfflineList(crl_fixture::kPssList);
    if (result == PkiResult::CertRevoked) {
        EXPECT_TRUE(tp.DiagnosticLines().empty());
        return;
    }
    std::cout << "this CryptoAPI cannot check RSA-PSS list signatures; the diagnostic line is expected\n";
    EXPECT_EQ(result, 0u);
    // Met again, the same list is not named again.
    EXPECT_EQ(cache.CheckRevocation(leaf, chain), 0u);
    const auto lines = tp.DiagnosticLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("CN=Wine Test CA"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("cannot be verified"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace corvane::test
