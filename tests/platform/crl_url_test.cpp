// Which CRL URLs this platform's retriever fetches: only http and https with a host. Every other
// URL is refused before any retrieval, with the same answer on every backend.
#include <gtest/gtest.h>

#include <vector>

#include "platform/crl_url.h"
#include "platform/text.h"
#if defined(_WIN32)
#include "platform/win32/win32_certificates.h"
using PlatformCrlRetriever = corvane::win32::Win32CrlRetriever;
#else
#include "platform/posix/posix_crl_retriever.h"
using PlatformCrlRetriever = corvane::posix::PosixCrlRetriever;
#endif

namespace corvane {
namespace {

const struct {
    const char16_t* url;
    bool retrievable;
} kCrlUrls[] = {
    {u"http://crl.corp.example/ca.crl", true},
    {u"HTTPS://crl.corp.example:8443/ca.crl?x=1", true},
    {u"http://127.0.0.1:1/ca.crl", true},
    {u"file://\\\\fileserver\\share\\ca.crl", false},
    {u"file:///C:/Windows/win.ini", false},
    {u"file:///etc/passwd", false},
    {u"ldap://dc.corp.example/CN=CA,CN=CDP?certificateRevocationList", false},
    {u"ldap:///CN=CA,CN=CDP?certificateRevocationList", false},
    {u"ftp://crl.corp.example/ca.crl", false},
    {u"\\\\fileserver\\share\\ca.crl", false},
    {u"C:\\Windows\\win.ini", false},
    {u"http:///ca.crl", false},
    {u"http://\\\\fileserver\\share", false},
    {u"http:ca.crl", false},
    {u"httpx://crl.corp.example/ca.crl", false},
    {u"http://crl.corp.example/ca\n.crl", false},
    {u"", false},
};

TEST(CrlUrl, OnlyHttpAndHttpsWithAHostAreRetrieved) {
    for (const auto& c : kCrlUrls) {
        EXPECT_EQ(IsRetrievableCrlUrl(c.url), c.retrievable) << Utf16ToUtf8(c.url);
    }
    // A NUL inside the URL would cut it short for the call that retrieves it.
    EXPECT_FALSE(IsRetrievableCrlUrl(std::u16string_view(u"http://a\0@b/", 12)));
}

TEST(CrlUrl, TheRetrieverRefusesEveryOtherUrlBeforeRetrieving) {
    PlatformCrlRetriever retriever;
    for (const auto& c : kCrlUrls) {
        if (c.retrievable) continue;
        for (uint32_t flags : {CrlRetrieval::WireOnly, CrlRetrieval::CacheOnly}) {
            std::vector<uint8_t> der {1, 2, 3};
            EXPECT_EQ(retriever.RetrieveCrl(c.url, flags, 1000, der), kCrlUrlRefused) << Utf16ToUtf8(c.url);
            EXPECT_TRUE(der.empty()) << Utf16ToUtf8(c.url);
        }
    }
}

}  // namespace
}  // namespace corvane
