// The phone stand-in's soft token on a token made by pairing: the answers to each token
// sub-operation as the service parses them, the refusals of bad requests, and a certificate that
// names the user and chains to a root the state root trusts for NT authentication.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "phone_pki.h"
#include "pki/certificate_upn.h"
#include "platform/file_time.h"
#include "platform/posix/posix_certificates.h"
#include "platform/posix/state_root.h"
#include "soft_token.h"
#include "support/temp_dir.h"
#include "wire/byte_order.h"

namespace corvane::phone {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

Bytes U32s(std::initializer_list<uint32_t> values) {
    Bytes b;
    for (uint32_t v : values) {
        uint8_t x[4];
        WriteU32(x, v);
        b.insert(b.end(), x, x + 4);
    }
    return b;
}

class SoftTokenTest : public ::testing::Test {
protected:
    // One pairing for the suite: two containers of phone-1, alice's first (the default).
    static void SetUpTestSuite() {
        s_dir = new test::TempDir();
        std::string error;
        ASSERT_TRUE(MakePairedContainer(s_dir->Path(), "phone-1", "alice@corp.example", "alice", error)) << error;
        ASSERT_TRUE(MakePairedContainer(s_dir->Path(), "phone-1", "alice@corp.example", "Backup", error)) << error;
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    static SoftToken Token() { return SoftToken(PhoneDir(s_dir->Path(), "phone-1") + "/token"); }
    static TokenAnswer Ask(uint16_t code, const Bytes& data) { return Token().Answer(code, data.data(), data.size()); }

    static test::TempDir* s_dir;
};
test::TempDir* SoftTokenTest::s_dir = nullptr;

TEST_F(SoftTokenTest, ContainersKeepTheirHandlesAndTheFirstPairedIsTheDefault) {
    const std::vector<SoftToken::Container> containers = Token().Containers();
    ASSERT_EQ(containers.size(), 2u);
    EXPECT_EQ(containers[0].handle, 1u);
    EXPECT_EQ(containers[0].name, "alice");
    EXPECT_EQ(containers[1].handle, 2u);
    EXPECT_EQ(containers[1].name, "Backup");
    EXPECT_EQ(Token().DefaultContainer(), "alice");
    // Pairing a container again keeps its handle; a new one takes the next.
    EXPECT_EQ(Token().HandleFor("Backup"), 2u);
    EXPECT_EQ(Token().HandleFor("carol"), 3u);
}

TEST_F(SoftTokenTest, AnswersAndRefusalsOfEachSubOperation) {
    const struct {
        const char* what;
        uint16_t code;
        Bytes data;
        uint32_t status;
        Bytes payload;  // compared when status is 0 and it is not empty
        size_t length;  // the payload's length when status is 0
    } cases[] = {
        {"by name, handle only", 0x2003, Text("alice"), 0, U32s({1}), 4},
        {"by name ignoring case", 0x2003, Text("BACKUP"), 0, U32s({2}), 4},
        {"empty name is the default", 0x2003, Text(""), 0, U32s({1}), 4},
        {"unknown name", 0x2003, Text("nobody"), TokenStatus::NteBadKeyset, {}, 0},
        {"name without its NUL", 0x2003, Bytes {'a'}, TokenStatus::NteBadData, {}, 0},
        {"name with a NUL inside", 0x2003, Bytes {'a', 0, 'b', 0}, TokenStatus::NteBadData, {}, 0},
        {"by index", 0x2002, U32s({1}), 0, Bytes {2, 0, 0, 0, 'B', 'a', 'c', 'k', 'u', 'p', 0}, 11},
        {"index past the end", 0x2002, U32s({2}), TokenStatus::NoMoreItems, {}, 0},
        {"index of wrong size", 0x2002, Bytes {0, 0}, TokenStatus::NteBadData, {}, 0},
        {"public key", 0x2022, U32s({1, 1}), 0, {}, 12 + 256},
        {"no signature key", 0x2022, U32s({2, 2}), TokenStatus::NteNoKey, {}, 0},
        {"bad key spec", 0x2022, U32s({2, 3}), TokenStatus::NteBadData, {}, 0},
        {"unknown handle", 0x2022, U32s({9, 1}), TokenStatus::NteBadKeyset, {}, 0},
        {"handle 0", 0x2032, U32s({0, 1}), TokenStatus::NteBadKeyset, {}, 0},
        {"public key request too short", 0x2022, Bytes(7, 0), TokenStatus::NteBadData, {}, 0},
        {"certificate of no key", 0x2032, U32s({2, 2}), TokenStatus::NteNoKey, {}, 0},
        {"raw operation without a block", 0x2024, U32s({2, 1}), TokenStatus::NteBadData, {}, 0},
        {"raw operation on a short block", 0x2024, U32s({2, 1, 7}), TokenStatus::NteBadLen, {}, 0},
        {"token info", 0x2041, {}, 0, {}, 16},
        {"token info with data", 0x2041, Bytes {1}, TokenStatus::NteBadData, {}, 0},
        {"login state", 0x2011, {}, 0, Bytes {1, 0, 32, 0}, 4},
        {"login with any PIN", 0x2012, Text("0000"), 0, Bytes {1, 0, 32, 0}, 4},
        {"key generation is not served", 0x2021, U32s({2, 1, 2048, 65537}), TokenStatus::NteNotSupported, {}, 0},
        {"certificate write is not served", 0x2031, U32s({2, 1, 0}), TokenStatus::NteNotSupported, {}, 0},
        {"unknown sub-operation", 0x2013, {}, TokenStatus::NteNotSupported, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TokenAnswer answer = Ask(c.code, c.data);
        EXPECT_EQ(answer.status, c.status);
        if (c.status != 0) {
            EXPECT_TRUE(answer.payload.empty());
            continue;
        }
        EXPECT_EQ(answer.payload.size(), c.length);
        if (!c.payload.empty()) {
            EXPECT_EQ(answer.payload, c.payload);
        }
    }
}

TEST_F(SoftTokenTest, PublicKeyReplyHasSpecBitsExponentAndABigEndianModulus) {
    const TokenAnswer key = Ask(0x2022, U32s({2, 1}));
    ASSERT_EQ(key.status, 0u);
    ASSERT_EQ(key.payload.size(), 12u + 256u);
    EXPECT_EQ(ReadU32(key.payload.data()), 1u);
    EXPECT_EQ(ReadU32(key.payload.data() + 4), 2048u);
    EXPECT_EQ(ReadU32(key.payload.data() + 8), 65537u);
    EXPECT_GE(key.payload[12], 0x80);  // the top bit of a 2048-bit modulus
    // Each container has a key of its own.
    EXPECT_NE(Ask(0x2022, U32s({1, 1})).payload, key.payload);
}

TEST_F(SoftTokenTest, PrivateThenPublicRawOperationGivesTheBlockBack) {
    // A PKCS#1 type-1 block around 20 bytes, as the CSP stand-in builds it for a signature.
    Bytes block(256, 0xFF);
    block[0] = 0x00;
    block[1] = 0x01;
    block[256 - 21] = 0x00;
    for (size_t i = 0; i < 20; ++i) block[256 - 20 + i] = static_cast<uint8_t>(i + 1);
    Bytes request = U32s({2, 1});
    request.insert(request.end(), block.begin(), block.end());
    const TokenAnswer signature = Ask(0x2024, request);
    ASSERT_EQ(signature.status, 0u);
    ASSERT_EQ(signature.payload.size(), 256u);
    EXPECT_NE(signature.payload, block);

    Bytes check = U32s({2, 1});
    check.insert(check.end(), signature.payload.begin(), signature.payload.end());
    const TokenAnswer back = Ask(0x2025, check);
    ASSERT_EQ(back.status, 0u);
    EXPECT_EQ(back.payload, block);

    // A block not below the modulus is refused, never reduced.
    Bytes tooLarge = U32s({2, 1});
    tooLarge.resize(8 + 256, 0xFF);
    EXPECT_EQ(Ask(0x2024, tooLarge).status, TokenStatus::NteBadData);
}

TEST_F(SoftTokenTest, CertificateNamesTheUserAndChainsForNtAuthentication) {
    const TokenAnswer cert = Ask(0x2032, U32s({1, 1}));
    ASSERT_EQ(cert.status, 0u);
    const posix::StateRoot root = posix::StateRoot::At(s_dir->Path());
    posix::PosixCertificates certificates(root.TrustDir(), root.NtAuthDir());
    std::u16string upn;
    ASSERT_EQ(GetCertificateUpn(certificates, cert.payload.data(), cert.payload.size(), upn), 0u);
    EXPECT_EQ(upn, u"alice@corp.example");

    DecodedCertificate decoded;
    ASSERT_EQ(certificates.DecodeCertificate(cert.payload.data(), cert.payload.size(), decoded), 0u);
    EXPECT_EQ(decoded.publicKeyAlgorithm, "1.2.840.113549.1.1.1");
    CertChainResult chain;
    ASSERT_EQ(certificates.BuildChain(decoded, UnixSecondsToFileTime(std::time(nullptr)), chain), 0u);
    EXPECT_EQ(chain.trustErrorStatus, 0u);
    EXPECT_EQ(chain.policyError, 0u);
    EXPECT_EQ(chain.elements.size(), 2u);
}

TEST(SoftTokenPairing, SecondPhoneReusesTheTestCaAndBadInputIsRefused) {
    test::TempDir dir;
    std::string error;
    ASSERT_TRUE(MakePairedContainer(dir.Path(), "phone-1", "alice@corp.example", "alice", error)) << error;
    const std::string ca = dir.Path("var/lib/corvane-phone/ca/ca.pem");
    std::string before;
    {
        FILE* f = std::fopen(ca.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        char buffer[8192];
        before.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    ASSERT_TRUE(MakePairedContainer(dir.Path(), "phone-2", "bob@corp.example", "bob", error)) << error;
    FILE* f = std::fopen(ca.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buffer[8192];
    const std::string after(buffer, std::fread(buffer, 1, sizeof buffer, f));
    std::fclose(f);
    EXPECT_EQ(before, after);

    const struct {
        const char* id;
        const char* upn;
        const char* container;
    } bad[] = {
        {"../x", "alice@corp.example", "alice"}, {"phone-1", "alice", "alice"},      {"phone-1", "@corp", "alice"},
        {"phone-1", "alice@", "alice"},          {"phone-1", "a@b", "../etc"},       {"phone-1", "a@b", ""},
        {"", "a@b", "alice"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(std::string(b.id) + " " + b.upn + " " + b.container);
        EXPECT_FALSE(MakePairedContainer(dir.Path(), b.id, b.upn, b.container, error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace corvane::phone
