// CRL downloads over HTTP with libcurl against a server on loopback that answers with the list,
// a 404, garbage, slowly or not at all: each try ends within its time-out, and only a list that
// decodes and was signed by the issuer decides.
#include <gtest/gtest.h>

#include <chrono>

#include "pki/crl_http_server.h"
#include "pki/pki_results.h"
#include "pki/pki_world.h"
#include "platform/posix/posix_crl_retriever.h"
#include "platform/text.h"

namespace corvane::test {
namespace {

using Clock = std::chrono::steady_clock;

class CrlDownloadTest : public ::testing::Test {
protected:
    uint32_t Retrieve(uint32_t flags, uint32_t timeoutMs, std::vector<uint8_t>& der, int64_t& elapsedMs) {
        const auto start = Clock::now();
        const uint32_t rc = retriever.RetrieveCrl(Utf8ToUtf16(server.Url()), flags, timeoutMs, der);
        elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        return rc;
    }

    CrlHttpServer server;
    posix::PosixCrlRetriever retriever;
};

TEST_F(CrlDownloadTest, EachAnswerOfTheServerEndsWithinTheTimeOut) {
    const std::vector<uint8_t> crl = SharedPki().MakeCrl({0x5001});
    const struct {
        const char* label;
        CrlHttpServer::Mode mode;
        int delayMs;
        bool delivered;
    } cases[] = {
        {"the list", CrlHttpServer::Mode::Serve, 0, true},
        {"the list, a little late", CrlHttpServer::Mode::Slow, 200, true},
        {"404", CrlHttpServer::Mode::NotFound, 0, false},
        {"too slow", CrlHttpServer::Mode::Slow, 3000, false},
        {"silence", CrlHttpServer::Mode::Silent, 0, false},
    };
    for (const auto& c : cases) {
        server.Set(c.mode, crl, c.delayMs);
        std::vector<uint8_t> der;
        int64_t elapsed = 0;
        const uint32_t rc = Retrieve(CrlRetrieval::WireOnly, 1000, der, elapsed);
        EXPECT_EQ(rc == 0, c.delivered) << c.label;
        EXPECT_EQ(der == crl, c.delivered) << c.label;
        EXPECT_LT(elapsed, 1900) << c.label;
    }
}

TEST_F(CrlDownloadTest, GarbageIsDeliveredAsItCameButIsNoList) {
    server.Set(CrlHttpServer::Mode::Garbage);
    std::vector<uint8_t> der;
    int64_t elapsed = 0;
    ASSERT_EQ(Retrieve(CrlRetrieval::WireOnly, 1000, der, elapsed), 0u);
    DecodedCrl crl;
    EXPECT_FALSE(DecodeCrl(der.data(), der.size(), crl));
}

TEST_F(CrlDownloadTest, TheCacheOnlyTryAsksNoServerAndAClosedPortFailsAtOnce) {
    std::vector<uint8_t> der;
    int64_t elapsed = 0;
    EXPECT_NE(Retrieve(CrlRetrieval::CacheOnly, 1000, der, elapsed), 0u);
    EXPECT_EQ(server.Requests(), 0);
    EXPECT_NE(retriever.RetrieveCrl(u"http://127.0.0.1:1/ca.crl", CrlRetrieval::WireOnly, 1000, der), 0u);
    EXPECT_NE(retriever.RetrieveCrl(u"file:///etc/passwd", CrlRetrieval::WireOnly, 1000, der), 0u);
    EXPECT_TRUE(der.empty());
}

TEST_F(CrlDownloadTest, ARevokedCertificateIsRefusedThroughARealDownload) {
    PkiWorld w;
    posix::PosixCrlRetriever real;
    w.platform.crlRetriever = &real;
    LeafSpec spec;
    spec.serial = 0x5001;
    spec.san = UpnSan("alice@corp.example");
    spec.crlUrl = server.Url();
    const std::vector<uint8_t> der = SharedPki().MakeLeaf(spec).Der();
    DecodedCertificate cert;
    CertChainResult chain;
    ASSERT_EQ(w.certificates.DecodeCertificate(der.data(), der.size(), cert), 0u);
    ASSERT_EQ(CheckCertificateChain(w.certificates, w.tp.clock, cert, chain), 0u);

    server.Set(CrlHttpServer::Mode::Serve, SharedPki().MakeCrl({0x5001}));
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
    // The server now gives garbage: the kept list still decides.
    server.Set(CrlHttpServer::Mode::Garbage);
    EXPECT_EQ(w.crls.CheckRevocation(cert, chain), PkiResult::CertRevoked);
}

}  // namespace
}  // namespace corvane::test
