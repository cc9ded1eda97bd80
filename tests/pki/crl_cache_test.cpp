// The revocation check: downloads with their tries and time-outs (a scripted retriever), the
// Cache and Offline folders, and lists that only count when the certificate's issuer signed them.
#include <gtest/gtest.h>

#include <filesystem>

#include "pki/crl_file.h"
#include "pki/pki_results.h"
#include "pki/pki_world.h"
#include "platform/text.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;

constexpr long kRevokedSerial = 0x4001;
constexpr long kGoodSerial = 0x4002;

class CrlCacheTest : public ::testing::Test {
protected:
    // A certificate of the issuing CA and its chain, with the distribution points given.
    void Make(long serial, const std::string& urls = "") {
        LeafSpec spec;
        spec.serial = serial;
        spec.san = UpnSan("alice@corp.example");
        spec.crlUrl = urls;
        const std::vector<uint8_t> der = SharedPki().MakeLeaf(spec).Der();
        ASSERT_EQ(w.certificates.DecodeCertificate(der.data(), der.size(), cert), 0u);
        ASSERT_EQ(CheckCertificateChain(w.certificates, w.tp.clock, cert, chain), 0u);
    }
    // Serves `lists[url]` for a network retrieval of that URL; nothing from the cache.
    void Serve(std::map<std::u16string, std::vector<uint8_t>> lists) {
        w.retriever.answer = [lists](const ScriptedCrlRetriever::Call& call, std::vector<uint8_t>& der) -> uint32_t {
            auto it = lists.find(call.url);
            if (call.flags != CrlRetrieval::WireOnly || it == lists.end()) return 0x80092004u;
            der = it->second;
            return 0;
        };
    }
    std::vector<fs::path> CacheFiles() const {
        std::vector<fs::path> files;
        if (fs::exists(w.CrlFolder("Cache"))) {
            for (const auto& e : fs::directory_iterator(w.CrlFolder("Cache"))) files.push_back(e.path());
        }
        return files;
    }

    PkiWorld w;
    DecodedCertificate cert;
    CertChainResult chain;
    TestKey forger {1024};
};

TEST_F(CrlCacheTest, ADownloadTriesTheNetworkTheCacheAndTheNetworkAgainWithTheirTimeOuts) {
    DecodedCrl crl;
    EXPECT_FALSE(w.crls.DownloadCrl(u"http://crl.corp.example/ca.crl", crl));
    const auto calls = w.retriever.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].flags, CrlRetrieval::WireOnly);
    EXPECT_EQ(calls[0].timeoutMs, 1000u);
    EXPECT_EQ(calls[1].flags, CrlRetrieval::CacheOnly);
    EXPECT_EQ(calls[1].timeoutMs, 1000u);
    EXPECT_EQ(calls[2].flags, CrlRetrieval::WireOnly);
    EXPECT_EQ(calls[2].timeoutMs, 20000u);
}

TEST_F(CrlCacheTest, ADownloadStopsAtTheFirstListAndAnAnswerThatIsNoListIsAFailedTry) {
    int calls = 0;
    const std::vector<uint8_t> genuine = SharedPki().MakeCrl({kRevokedSerial});
    w.retriever.answer = [&](const ScriptedCrlRetriever::Call&, std::vector<uint8_t>& der) -> uint32_t {
        der = ++calls == 1 ? std::vector<uint8_t> {'<', 'h', 't', 'm', 'l', '>'} : genuine;
        return 0;
    };
    DecodedCrl crl;
    EXPECT_TRUE(w.crls.DownloadCrl(u"http://crl.corp.example/ca.crl", crl));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(crl.der, genuine);
}

TEST_F(CrlCacheTest, ARevokedCertificateIsRefusedAndItsListKeptOncePerIssuer) {
    Make(kRevokedSerial, "http://crl.corp.example/ca.crl");
    Serve({{u"http://crl.corp.example/ca.crl", SharedPki().MakeCrl({kRevokedSerial})}});
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
    const auto files = CacheFiles();
    ASSERT_EQ(files.size(), 1u);
    // The file is named after the issuer's digest: 32 lower-case hex digits.
    EXPECT_EQ(files[0].filename().string().size(), 36u);
    EXPECT_EQ(files[0].extension(), ".crl");
    EXPECT_EQ(files[0].filename().string().find_first_not_of("0123456789abcdef"), 32u);

    // The same list downloaded again writes nothing.
    fs::remove(files[0]);
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
    EXPECT_TRUE(CacheFiles().empty());
}

TEST_F(CrlCacheTest, ACertificateTheListDoesNotNameIsAccepted) {
    Make(kGoodSerial, "http://crl.corp.example/ca.crl");
    Serve({{u"http://crl.corp.example/ca.crl", SharedPki().MakeCrl({kRevokedSerial})}});
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), 0u);
}

TEST_F(CrlCacheTest, AForgedListIsNeitherKeptNorTrustedAndTheGenuineOneStillDecides) {
    Make(kRevokedSerial, "http://crl.corp.example/ca.crl");
    TestPki& pki = SharedPki();
    Serve({{u"http://crl.corp.example/ca.crl", pki.MakeCrl({kRevokedSerial})}});
    ASSERT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
    const auto files = CacheFiles();
    ASSERT_EQ(files.size(), 1u);
    const auto kept = fs::last_write_time(files[0]);
    const auto size = fs::file_size(files[0]);

    // Newer, empty, with the CA's name, signed by another key.
    Serve({{u"http://crl.corp.example/ca.crl", pki.MakeCrl(pki.ca, forger, {}, "20251201000000Z")}});
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
    EXPECT_EQ(fs::last_write_time(files[0]), kept);
    EXPECT_EQ(fs::file_size(files[0]), size);
}

TEST_F(CrlCacheTest, AForgedListAloneRevokesNothingAndIsNotKept) {
    Make(kGoodSerial, "http://crl.corp.example/ca.crl");
    TestPki& pki = SharedPki();
    Serve({{u"http://crl.corp.example/ca.crl", pki.MakeCrl(pki.ca, forger, {kGoodSerial})}});
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), 0u);
    EXPECT_TRUE(CacheFiles().empty());
}

TEST_F(CrlCacheTest, AnExpiredDownloadIsNotUsedTheNextUrlIsThenTheLocalFolders) {
    Make(kRevokedSerial, "http://a.corp.example/ca.crl,URI:http://b.corp.example/ca.crl");
    TestPki& pki = SharedPki();
    const std::vector<uint8_t> expired = pki.MakeCrl(pki.ca, pki.ca.key, {}, "20240101000000Z", "20250101000000Z");
    Serve({{u"http://a.corp.example/ca.crl", expired}, {u"http://b.corp.example/ca.crl", pki.MakeCrl({kRevokedSerial})}});
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);

    // Both URLs give only the expired list: the kept list of the Cache folder decides.
    Serve({{u"http://a.corp.example/ca.crl", expired}, {u"http://b.corp.example/ca.crl", expired}});
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
}

TEST_F(CrlCacheTest, OfflineListsDecideWithoutTheNetworkEvenWhenExpired) {
    Make(kRevokedSerial);  // no distribution point
    TestPki& pki = SharedPki();
    ASSERT_EQ(w.crls.CheckRevocation(cert, chain), 0u);
    const std::vector<uint8_t> expired =
        pki.MakeCrl(pki.ca, pki.ca.key, {kRevokedSerial}, "20240101000000Z", "20250101000000Z");
    WriteFile(w.CrlFolder("Offline") + "/x.CRL", PemOfCrl(expired));
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
    EXPECT_TRUE(w.retriever.Calls().empty());
}

TEST_F(CrlCacheTest, OnlyFilesEndingInCrlAreReadAndUnreadableOnesAreSkipped) {
    Make(kRevokedSerial);
    TestPki& pki = SharedPki();
    const std::vector<uint8_t> genuine = pki.MakeCrl({kRevokedSerial});
    WriteFile(w.CrlFolder("Offline") + "/x.crl.bak", genuine);
    WriteFile(w.CrlFolder("Offline") + "/a-garbage.crl", std::string("not a list at all"));
    fs::create_directories(w.CrlFolder("Offline") + "/folder.crl");
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), 0u);

    // Base64 as UTF-16 text, with a byte order mark and PEM header lines.
    const std::string pem = PemOfCrl(genuine);
    std::string wide = "\xFF\xFE";
    for (char c : pem) wide.append({c, '\0'});
    WriteFile(w.CrlFolder("Offline") + "/wide.crl", wide);
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
}

TEST_F(CrlCacheTest, AForgedOfflineListBesideTheGenuineOneChangesNothing) {
    Make(kRevokedSerial);
    TestPki& pki = SharedPki();
    WriteFile(w.CrlFolder("Offline") + "/genuine.crl", pki.MakeCrl({kRevokedSerial}));
    WriteFile(w.CrlFolder("Offline") + "/newer.crl", pki.MakeCrl(pki.ca, forger, {}, "20251201000000Z"));
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
}

TEST_F(CrlCacheTest, TheCacheFolderIsRecreatedByTheFirstStoreOpenNotByTheFolderCheck) {
    ASSERT_EQ(w.crls.EnsureCrlFolders(), 0u);
    EXPECT_TRUE(fs::is_directory(w.CrlFolder("Cache")));
    EXPECT_TRUE(fs::is_directory(w.CrlFolder("Offline")));
    fs::remove_all(w.CrlFolder("Cache"));

    CCrlCache fresh(w.platform);  // a new process, the base folder already there
    EXPECT_EQ(fresh.EnsureCrlFolders(), 0u);
    EXPECT_FALSE(fs::exists(w.CrlFolder("Cache")));
    EXPECT_EQ(fresh.OpenCrlStore(), 0u);
    EXPECT_TRUE(fs::is_directory(w.CrlFolder("Cache")));
}

TEST_F(CrlCacheTest, KeptListsAreLoadedIntoTheStoreAtFirstUse) {
    Make(kRevokedSerial);
    WriteFile(w.CrlFolder("Cache") + "/0123456789abcdef0123456789abcdef.crl", SharedPki().MakeCrl({kRevokedSerial}));
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
    EXPECT_EQ(w.crls.Store()->Count(), 1u);
}

TEST_F(CrlCacheTest, AChainWithoutASimpleChainIsAnInternalError) {
    Make(kRevokedSerial);
    EXPECT_EQ(w.crls.CheckLocalCrls(cert, CertChainResult {}), PkiResult::NteFail);
}

TEST(CrlFile, Base64TextWithHeadersAndWhiteSpaceDecodesAndAnythingElseDoesNot) {
    EXPECT_EQ(DecodeBase64Text("-----BEGIN X509 CRL-----\r\nTWFu\r\n  TQ==\n-----END X509 CRL-----\n"),
              (std::vector<uint8_t> {'M', 'a', 'n', 'M'}));
    EXPECT_FALSE(DecodeBase64Text("TWFu!").has_value());
    EXPECT_FALSE(DecodeBase64Text("TQ==TWFu").has_value());
    EXPECT_FALSE(DecodeBase64Text("T").has_value());
    EXPECT_FALSE(DecodeBase64Text("").has_value());
}

}  // namespace
}  // namespace corvane::test
