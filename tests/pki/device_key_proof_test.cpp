// The key proof on the test PKI: one row per kind of certificate with the code the proof gives,
// through the CSP stand-in's key store and the OpenSSL chain backend under the test's state root.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "pki/pki_world.h"
#include "pki/rsa_signature.h"
#include "platform/text.h"

namespace corvane::test {
namespace {

constexpr const char* kDevice = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
const std::u16string kContainer = u"\\\\?\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\phone-key";

enum class Issuer { Ca, OtherCa, Stranger };

struct ProofCase {
    const char* label;
    LeafSpec spec;
    Issuer issuer;
    std::u16string upn;
    uint32_t expected;
};

LeafSpec Leaf(long serial, const std::string& san, const std::string& eku = "clientAuth",
              const std::string& notAfter = "20400101000000Z") {
    LeafSpec spec;
    spec.serial = serial;
    spec.san = san;
    spec.eku = eku;
    spec.notAfter = notAfter;
    return spec;
}

std::vector<ProofCase> Cases() {
    const std::string alice = UpnSan("alice@corp.example");
    return {
        {"alice for client authentication", Leaf(0x2001, alice), Issuer::Ca, u"alice@corp.example", 0},
        {"name in other letter case", Leaf(0x2002, alice), Issuer::Ca, u"Alice@CORP.example", 0},
        {"DNS name before the principal name", Leaf(0x2003, "DNS:a.corp.example," + alice), Issuer::Ca,
         u"alice@corp.example", 0},
        {"server authentication only", Leaf(0x2004, alice, "serverAuth"), Issuer::Ca, u"alice@corp.example", 0},
        {"no extended key usage", Leaf(0x2005, alice, ""), Issuer::Ca, u"alice@corp.example", 0},
        {"code signing only", Leaf(0x2006, alice, "codeSigning"), Issuer::Ca, u"alice@corp.example", 0x80090354},
        {"expired", Leaf(0x2007, alice, "clientAuth", "20210101000000Z"), Issuer::Ca, u"alice@corp.example",
         0x80090355},
        {"untrusted root", Leaf(0x2008, alice), Issuer::Stranger, u"alice@corp.example", 0x80090354},
        {"issuer outside the NT authentication CAs", Leaf(0x2009, alice), Issuer::OtherCa, u"alice@corp.example",
         0x800B0112},
        {"another other-name first", Leaf(0x200A, "otherName:1.2.3.4;UTF8:x," + alice), Issuer::Ca,
         u"alice@corp.example", 0x20000003},
        {"certificate of another user", Leaf(0x200B, UpnSan("bob@corp.example")), Issuer::Ca, u"alice@corp.example",
         0x20000003},
        {"no principal name", Leaf(0x200C, "DNS:alice.corp.example"), Issuer::Ca, u"alice@corp.example", 0x20000003},
    };
}

class DeviceKeyProofTest : public ::testing::TestWithParam<ProofCase> {};

TEST_P(DeviceKeyProofTest, GivesTheCodeOfTheCertificate) {
    const ProofCase& c = GetParam();
    PkiWorld w;
    TestPki& pki = SharedPki();
    const TestCert& issuer = c.issuer == Issuer::Ca ? pki.ca : c.issuer == Issuer::OtherCa ? pki.otherCa : pki.strangerRoot;
    const TestCert leaf = pki.MakeLeaf(c.spec, issuer);
    TestPki::InstallContainer(w.tp.Root(), kDevice, "phone-key", leaf);

    // With the certificate read from the key, and with the one the caller read before.
    EXPECT_EQ(w.proof.VerifyDeviceKey(kContainer, kAtKeyExchange, c.upn, nullptr, 0), c.expected);
    const std::vector<uint8_t> der = leaf.Der();
    EXPECT_EQ(w.proof.VerifyDeviceKey(kContainer, kAtKeyExchange, c.upn, der.data(), der.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Pki, DeviceKeyProofTest, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.label; *p; ++p) name += isalnum(*p) ? *p : '_';
    return name;
});

class DeviceKeyProofCspTest : public ::testing::Test {
protected:
    void SetUp() override {
        LeafSpec spec;
        spec.serial = 0x2101;
        spec.san = UpnSan("alice@corp.example");
        leaf = SharedPki().MakeLeaf(spec);
    }
    PkiWorld w;
    TestCert leaf;
};

TEST_F(DeviceKeyProofCspTest, ACspThatSignsWithAnotherKeyFailsTheSignatureCheck) {
    TestKey other(1024);
    TestPki::InstallContainer(w.tp.Root(), kDevice, "phone-key", leaf, &other);
    EXPECT_EQ(w.proof.VerifyDeviceKey(kContainer, kAtKeyExchange, u"alice@corp.example", nullptr, 0), 0x20000002u);
}

// A signer holding another key of the same size gives values that may lie above the certificate
// key's modulus: that is the device's wrong signature, not an internal error.
TEST(RsaPublicBlockTest, ASignatureNotBelowTheModulusIsADeviceSignatureError) {
    TestKey key(1024);
    unsigned char* der = nullptr;
    const int derLength = i2d_PublicKey(key.pkey, &der);
    ASSERT_GT(derLength, 0);
    const std::vector<uint8_t> publicKey(der, der + derLength);
    OPENSSL_free(der);
    const struct {
        const char* label;
        std::vector<uint8_t> signature;
        uint32_t expected;
    } cases[] = {
        {"above the modulus", std::vector<uint8_t>(128, 0xFF), 0x20000002},
        {"below the modulus", std::vector<uint8_t>(128, 0x01), 0},
        {"shorter than the modulus", std::vector<uint8_t>(64, 0x01), 0x20000001},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> block;
        EXPECT_EQ(RsaPublicBlock(publicKey, c.signature.data(), c.signature.size(), block), c.expected) << c.label;
        EXPECT_EQ(block.size(), c.expected == 0 ? c.signature.size() : 0u) << c.label;
    }
}

TEST_F(DeviceKeyProofCspTest, ACertificateOfAnotherSizeThanTheKeyIsAnInternalError) {
    TestKey larger(2048);
    TestPki::InstallContainer(w.tp.Root(), kDevice, "phone-key", leaf, &larger);
    EXPECT_EQ(w.proof.VerifyDeviceKey(kContainer, kAtKeyExchange, u"alice@corp.example", nullptr, 0), 0x20000001u);
}

TEST_F(DeviceKeyProofCspTest, ContainersTheStoreDoesNotHoldFailWithTheCspError) {
    TestPki::InstallContainer(w.tp.Root(), kDevice, "phone-key", leaf);
    const struct {
        const char* label;
        std::u16string path;
        uint32_t expected;
    } cases[] = {
        {"unknown container", u"\\\\?\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\missing", CspError::NteBadKeyset},
        {"unknown device", u"\\\\?\\{00000000-0000-0000-0000-000000000000}\\phone-key", CspError::NteBadKeyset},
        {"climbing out of the store", u"\\\\?\\..\\..", CspError::NteBadKeyset},
        {"path inside the name", u"\\\\?\\{6B29FC40-CA47-1067-B31D-00DD010662DA}\\phone-key/../phone-key",
         CspError::NteBadKeyset},
        {"no container name", u"\\\\?\\{6B29FC40-CA47-1067-B31D-00DD010662DA}", CspError::NteBadKeyset},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(w.proof.VerifyDeviceKey(c.path, kAtKeyExchange, u"alice@corp.example", nullptr, 0), c.expected)
            << c.label;
    }
}

// Passes every call on to the stand-in and keeps the hash values it was given.
class RecordingCsp final : public ICspContainers {
public:
    explicit RecordingCsp(ICspContainers& inner) : m_inner(inner) {}
    uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                            uint32_t type, uint32_t flags) override {
        return m_inner.AcquireContext(prov, container, provider, type, flags);
    }
    uint32_t GetUserKey(CryptProvHandle prov, uint32_t spec, CryptKeyHandle& key) override {
        return m_inner.GetUserKey(prov, spec, key);
    }
    uint32_t GetKeyParam(CryptKeyHandle key, uint32_t param, std::vector<uint8_t>& value) override {
        return m_inner.GetKeyParam(key, param, value);
    }
    uint32_t SetKeyParam(CryptKeyHandle key, uint32_t param, const uint8_t* value) override {
        if (param == kKpKeyExchangePin) pins.emplace_back(reinterpret_cast<const char*>(value));
        return m_inner.SetKeyParam(key, param, value);
    }
    uint32_t CreateHash(CryptProvHandle prov, uint32_t algorithm, CryptHashHandle& hash) override {
        return m_inner.CreateHash(prov, algorithm, hash);
    }
    uint32_t SetHashParam(CryptHashHandle hash, uint32_t param, const uint8_t* value) override {
        hashValues.emplace_back(value, value + 20);
        return m_inner.SetHashParam(hash, param, value);
    }
    uint32_t SignHash(CryptHashHandle hash, uint32_t spec, uint32_t flags, std::vector<uint8_t>& signature) override {
        signFlags.push_back(flags);
        return m_inner.SignHash(hash, spec, flags, signature);
    }
    uint32_t DestroyHash(CryptHashHandle hash) override { ++destroyed; return m_inner.DestroyHash(hash); }
    uint32_t DestroyKey(CryptKeyHandle key) override { ++destroyed; return m_inner.DestroyKey(key); }
    uint32_t ReleaseContext(CryptProvHandle prov) override { ++destroyed; return m_inner.ReleaseContext(prov); }

    std::vector<std::vector<uint8_t>> hashValues;
    std::vector<std::string> pins;
    std::vector<uint32_t> signFlags;
    int destroyed = 0;

private:
    ICspContainers& m_inner;
};

TEST_F(DeviceKeyProofCspTest, SignsAFreshChallengeWithTheEmptyPinAndNoHashIdentifier) {
    TestPki::InstallContainer(w.tp.Root(), kDevice, "phone-key", leaf);
    RecordingCsp recording(w.csp);
    w.platform.cspContainers = &recording;
    // The clock stands still: a challenge seeded from the tick count would repeat.
    EXPECT_EQ(w.proof.VerifyDeviceKey(kContainer, kAtKeyExchange, u"alice@corp.example", nullptr, 0), 0u);
    EXPECT_EQ(w.proof.VerifyDeviceKey(kContainer, kAtKeyExchange, u"alice@corp.example", nullptr, 0), 0u);
    ASSERT_EQ(recording.hashValues.size(), 2u);
    EXPECT_NE(recording.hashValues[0], recording.hashValues[1]);
    EXPECT_EQ(recording.pins, (std::vector<std::string> {"", ""}));
    EXPECT_EQ(recording.signFlags, (std::vector<uint32_t> {kCryptNoHashOid, kCryptNoHashOid}));
    // Context, key and hash of both proofs released; a proof that fails releases what it took.
    EXPECT_EQ(recording.destroyed, 6);
    EXPECT_EQ(w.proof.VerifyDeviceKey(kContainer, kAtKeyExchange, u"bob@corp.example", nullptr, 0), 0x20000003u);
    EXPECT_EQ(recording.destroyed, 8);
}

}  // namespace
}  // namespace corvane::test
