// The principal name of a device certificate and the stricter name match of the key proof, on
// certificates of the test PKI with every kind of subject alternative name that matters.
#include <gtest/gtest.h>

#include "pki/certificate_upn.h"
#include "pki/der_bytes.h"
#include "pki/pki_world.h"
#include "platform/text.h"

namespace corvane::test {
namespace {

constexpr uint32_t kNoUpn = 0x20000004;
constexpr uint32_t kNotCertificate = 0x20000003;

struct UpnCase {
    const char* label;
    std::string san;
    std::vector<uint8_t> rawSan;
    uint32_t expected;
    std::string upn;       // expected name when found
    bool matchesAlice;     // the key proof's name match against alice@corp.example
};

std::vector<UpnCase> Cases() {
    std::vector<uint8_t> manyDnsNames;
    for (int i = 0; i < 200; ++i) {
        const auto entry = DnsName("host" + std::to_string(i) + ".corp.example");
        manyDnsNames.insert(manyDnsNames.end(), entry.begin(), entry.end());
    }
    const std::string longName(600, 'a');
    const std::string tooLongName(1100, 'b');
    return {
        {"principal name alone", UpnSan("alice@corp.example"), {}, 0, "alice@corp.example", true},
        {"DNS name before the principal name", "DNS:alice.corp.example," + UpnSan("alice@corp.example"), {}, 0,
         "alice@corp.example", true},
        {"another other-name before it", "otherName:1.2.3.4;UTF8:x," + UpnSan("alice@corp.example"), {}, 0,
         "alice@corp.example", false},
        {"e-mail name only", "email:alice@corp.example", {}, kNoUpn, "", false},
        {"no subject alternative name", "", {}, kNoUpn, "", false},
        {"principal name as IA5String", "otherName:1.3.6.1.4.1.311.20.2.3;IA5STRING:alice@corp.example", {}, kNoUpn,
         "", false},
        {"principal name with an embedded NUL", "",
         GeneralNames({UpnOtherName(Tlv(0x0C, Text(std::string("alice@corp.example\0evil", 23))))}), kNoUpn, "", false},
        {"principal name in the long length form", "",
         GeneralNames({UpnOtherName(Tlv(0x0C, Text("alice@corp.example"), true))}), 0, "alice@corp.example", true},
        {"principal name nested in a sequence", "",
         GeneralNames({UpnOtherName(Tlv(0x30, Tlv(0x0C, Text("alice@corp.example"))))}), kNoUpn, "", false},
        {"names beyond the decoding room", "",
         GeneralNames({manyDnsNames, UpnOtherName(Tlv(0x0C, Text("alice@corp.example")))}), kNoUpn, "", false},
        {"name longer than the match compares", UpnSan(longName + "@corp.example"), {}, 0, longName + "@corp.example",
         false},
        {"name longer than a caller keeps", UpnSan(tooLongName), {}, kNoUpn, "", false},
    };
}

class CertificateUpnTest : public ::testing::TestWithParam<UpnCase> {};

TEST_P(CertificateUpnTest, FindsThePrincipalNameAndMatchesOnlyTheFirstOtherName) {
    const UpnCase& c = GetParam();
    LeafSpec spec;
    spec.san = c.san;
    spec.rawSan = c.rawSan;
    const TestCert leaf = SharedPki().MakeLeaf(spec);
    const std::vector<uint8_t> der = leaf.Der();
    posix::PosixCertificates certificates("/nonexistent", "/nonexistent");

    std::u16string upn;
    EXPECT_EQ(GetCertificateUpn(certificates, der.data(), der.size(), upn), c.expected);
    EXPECT_EQ(upn, Utf8ToUtf16(c.upn));
    EXPECT_EQ(GetCertificateUpnText(certificates, der.data(), der.size()), Utf8ToUtf16(c.upn));

    DecodedCertificate decoded;
    ASSERT_EQ(certificates.DecodeCertificate(der.data(), der.size(), decoded), 0u);
    EXPECT_EQ(CertificateNameMatches(decoded, u"alice@corp.example"), c.matchesAlice);
}

INSTANTIATE_TEST_SUITE_P(Names, CertificateUpnTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             std::string name;
                             for (const char* p = info.param.label; *p; ++p) name += isalnum(*p) ? *p : '_';
                             return name;
                         });

TEST(CertificateUpn, NameMatchIgnoresCaseButNotOtherDifferences) {
    LeafSpec spec;
    spec.san = UpnSan("alice@corp.example");
    const std::vector<uint8_t> der = SharedPki().MakeLeaf(spec).Der();
    posix::PosixCertificates certificates("/nonexistent", "/nonexistent");
    DecodedCertificate decoded;
    ASSERT_EQ(certificates.DecodeCertificate(der.data(), der.size(), decoded), 0u);
    EXPECT_TRUE(CertificateNameMatches(decoded, u"ALICE@Corp.Example"));
    EXPECT_FALSE(CertificateNameMatches(decoded, u"alice@corp.example.evil"));
    EXPECT_FALSE(CertificateNameMatches(decoded, u"bob@corp.example"));
    EXPECT_FALSE(CertificateNameMatches(decoded, u""));
}

TEST(CertificateUpn, BytesThatAreNoCertificateGiveTheDataError) {
    LeafSpec spec;
    spec.san = UpnSan("alice@corp.example");
    const std::vector<uint8_t> der = SharedPki().MakeLeaf(spec).Der();
    posix::PosixCertificates certificates("/nonexistent", "/nonexistent");
    const std::vector<uint8_t> garbage = Text("-----BEGIN CERTIFICATE-----");
    std::vector<uint8_t> trailing = der;
    trailing.push_back(0);
    const struct {
        const char* label;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"text", garbage},
        {"truncated", std::vector<uint8_t>(der.begin(), der.end() - 10)},
        {"header only", std::vector<uint8_t>(der.begin(), der.begin() + 4)},
        {"trailing byte", trailing},
    };
    for (const auto& c : cases) {
        std::u16string upn = u"left over";
        EXPECT_EQ(GetCertificateUpn(certificates, c.bytes.data(), c.bytes.size(), upn), kNotCertificate) << c.label;
        EXPECT_TRUE(upn.empty()) << c.label;
        EXPECT_TRUE(GetCertificateUpnText(certificates, c.bytes.data(), c.bytes.size()).empty()) << c.label;
    }
}

}  // namespace
}  // namespace corvane::test
