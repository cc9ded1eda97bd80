// The revocation check: downloads with their tries and time-outs (a scripted retriever), the
// Cache and Offline folders, and lists that only count when the certificate's issuer signed them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>

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
    // A certificate of `ca` with the chain the chain engine gives for it: the certificate, then
    // its CA.
    void Issue(const TestCert& ca, long serial, const std::string& urls = "") {
        LeafSpec spec;
        spec.serial = serial;
        spec.san = UpnSan("alice@corp.example");
        spec.crlUrl = urls;
        const std::vector<uint8_t> der = SharedPki().MakeLeaf(spec, ca).Der();
        ASSERT_EQ(w.certificates.DecodeCertificate(der.data(), der.size(), cert), 0u);
        chain = {};
        chain.hasSimpleChain = true;
        chain.elements = {der, ca.Der()};
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

TEST_F(CrlCacheTest, ListsSignedWithRsaPssWithP256OrWithAKeyOfAnyLengthAreVerified) {
    TestPki& pki = SharedPki();
    TestKey rsaForger(1024);
    TestKey p256Forger = TestKey::P256();
    TestKey oddForger(1025);
    const struct {
        const char* label;
        const TestCert& ca;
        const TestKey& forger;
        CrlPadding padding;
    } cases[] = {
        {"RSA-PSS", pki.pssCa, rsaForger, CrlPadding::Pss},
        {"P-256", pki.p256Ca, p256Forger, CrlPadding::Pkcs1},
        {"RSA key of 1025 bits", pki.oddRsaCa, oddForger, CrlPadding::Pkcs1},
    };
    for (const auto& c : cases) {
        // Downloaded: the CA's list refuses the certificate it names.
        Issue(c.ca, kRevokedSerial, "http://crl.corp.example/ca.crl");
        Serve({{u"http://crl.corp.example/ca.crl", pki.MakeCrl(c.ca, c.ca.key, {kRevokedSerial}, c.padding)}});
        EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked) << c.label;

        // Kept in Offline: the CA's list refuses; a forged one of the same kind refuses nothing.
        Issue(c.ca, kGoodSerial);
        const std::string offline = w.CrlFolder("Offline") + "/" + c.label;
        WriteFile(offline + " forged.crl", pki.MakeCrl(c.ca, c.forger, {kGoodSerial}, c.padding));
        EXPECT_EQ(w.crls.CheckRevocation(cert, chain), 0u) << c.label;
        Issue(c.ca, kRevokedSerial);
        EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked) << c.label;
    }
    EXPECT_TRUE(w.tp.DiagnosticLines().empty());
}

TEST_F(CrlCacheTest, AListTheLibraryCannotCheckRefusesNothingAndItsIssuerIsNamedOnce) {
    Make(kRevokedSerial, "http://crl.corp.example/ca.crl");
    // The CA's list under a signature algorithm nobody knows (1.2.840.113549.1.1.127).
    std::vector<uint8_t> unknown = SharedPki().MakeCrl({kRevokedSerial});
    const std::vector<uint8_t> sha256Rsa = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0b};
    int replaced = 0;
    for (auto at = unknown.begin(); (at = std::search(at, unknown.end(), sha256Rsa.begin(), sha256Rsa.end())) !=
                                    unknown.end();
         ++replaced) {
        at += sha256Rsa.size();
        at[-1] = 0x7f;
    }
    ASSERT_EQ(replaced, 2);  // the signed algorithm and the outer one
    Serve({{u"http://crl.corp.example/ca.crl", unknown}});
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), 0u);
    EXPECT_TRUE(CacheFiles().empty());
    WriteFile(w.CrlFolder("Offline") + "/unknown.crl", unknown);
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), 0u);

    const auto lines = w.tp.DiagnosticLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("CN=Corvane Test Issuing CA"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("cannot be verified"), std::string::npos) << lines[0];
}

// Folder files that hold the first read of a file of the Cache folder until the test lets it go.
class HeldCacheRead final : public IFolderFiles {
public:
    explicit HeldCacheRead(IFolderFiles& inner) : m_inner(inner) {}
    uint32_t GetAttributes(std::u16string_view path, bool& directory) override {
        return m_inner.GetAttributes(path, directory);
    }
    uint32_t CreateFolder(std::u16string_view path) override { return m_inner.CreateFolder(path); }
    uint32_t ListFolder(std::u16string_view folder, std::u16string_view suffix,
                        std::vector<FolderEntry>& entries) override {
        return m_inner.ListFolder(folder, suffix, entries);
    }
    uint32_t ReadWholeFile(std::u16string_view path, std::vector<uint8_t>& data) override {
        if (path.find(u"Cache") != std::u16string_view::npos) {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_bHolding) {
                m_bHolding = true;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return m_bReleased; });
            }
        }
        return m_inner.ReadWholeFile(path, data);
    }
    uint32_t WriteWholeFile(std::u16string_view path, const uint8_t* data, size_t size) override {
        return m_inner.WriteWholeFile(path, data, size);
    }
    bool WaitUntilHolding() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return m_bHolding; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bReleased = true;
        m_changed.notify_all();
    }

private:
    IFolderFiles& m_inner;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bHolding = false;
    bool m_bReleased = false;
};

TEST_F(CrlCacheTest, AFirstCheckWhileTheKeptListsAreLoadingWaitsForThem) {
    Make(kRevokedSerial);
    WriteFile(w.CrlFolder("Cache") + "/0123456789abcdef0123456789abcdef.crl", SharedPki().MakeCrl({kRevokedSerial}));
    HeldCacheRead held(w.files);
    w.platform.folderFiles = &held;

    auto loading = std::async(std::launch::async, [&] { return w.crls.CheckRevocation(cert, chain); });
    ASSERT_TRUE(held.WaitUntilHolding());
    auto meanwhile = std::async(std::launch::async, [&] { return w.crls.CheckRevocation(cert, chain); });
    // Time for a check that does not wait to decide without the kept list; one that waits
    // decides only after the release.
    meanwhile.wait_for(std::chrono::milliseconds(300));
    held.Release();
    EXPECT_EQ(loading.get(), PkiResult::CertRevoked);
    EXPECT_EQ(meanwhile.get(), PkiResult::CertRevoked);
}

// The certificate library with distribution points that answer with a given error.
class UrlReadError final : public ICertificates {
public:
    UrlReadError(ICertificates& inner, uint32_t error) : m_inner(inner), m_error(error) {}
    uint32_t DecodeCertificate(const uint8_t* der, size_t size, DecodedCertificate& out) override {
        return m_inner.DecodeCertificate(der, size, out);
    }
    uint32_t BuildChain(const DecodedCertificate& cert, FileTime at, CertChainResult& out) override {
        return m_inner.BuildChain(cert, at, out);
    }
    uint32_t GetCrlUrls(const DecodedCertificate&, std::vector<std::u16string>& urls) override {
        urls.clear();
        return m_error;
    }
    uint32_t VerifyCrlSignature(const std::vector<uint8_t>& crl, const DecodedCertificate& issuer) override {
        return m_inner.VerifyCrlSignature(crl, issuer);
    }
    std::u16string NameToText(const std::vector<uint8_t>& name) override { return m_inner.NameToText(name); }

private:
    ICertificates& m_inner;
    uint32_t m_error;
};

TEST_F(CrlCacheTest, DistributionPointsThatCannotBeReadEndTheCheckWithTheirError) {
    Make(kRevokedSerial, "http://crl.corp.example/ca.crl");
    WriteFile(w.CrlFolder("Offline") + "/genuine.crl", SharedPki().MakeCrl({kRevokedSerial}));
    const struct {
        const char* label;
        uint32_t error;
        uint32_t result;
    } cases[] = {
        {"none named: the local lists decide", 0x80092004, PkiResult::CertRevoked},
        {"named but unreadable", 0x80090349, 0x80090349},
        {"no room for them", 14, 14},
    };
    for (const auto& c : cases) {
        UrlReadError failing(w.certificates, c.error);
        w.platform.certificates = &failing;
        EXPECT_EQ(w.crls.CheckRevocation(cert, chain), c.result) << c.label;
        w.platform.certificates = &w.certificates;
    }
    EXPECT_TRUE(w.retriever.Calls().empty());
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
