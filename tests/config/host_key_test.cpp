// The host key: created and stored enciphered on the first start, loaded (into the engine and the
// key container named by the host GUID) on later starts, replaced when the stored value is bad.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "config/host_key.h"
#include "crypto/cipher.h"
#include "crypto/rsa.h"
#include "crypto/rsa_test_util.h"
#include "support/test_platform.h"
#include "token/private_key_blob.h"

namespace corvane {
namespace {

using test::Bytes;

class HostKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadHostGuid(tp.Get(), config), 0u);
        ASSERT_FALSE(config.g_strHostGuid.empty());
    }

    // One start: a fresh HostKey loaded from the registry.
    HostKey& Start(uint32_t expected = 0) {
        m_keys.push_back(std::make_unique<HostKey>());
        EXPECT_EQ(LoadHostKey(tp.Get(), config, *m_keys.back()), expected);
        return *m_keys.back();
    }

    Bytes StoredValue() {
        RegValue value;
        EXPECT_EQ(tp.registry.QueryValue(kTovrelKey, kRsaKeyValue, value, 8192), 0u);
        EXPECT_EQ(value.type, RegType::Binary);
        return value.data;
    }

    void Store(const Bytes& value) {
        ASSERT_EQ(tp.registry.CreateKey(kTovrelKey), 0u);
        ASSERT_EQ(RegSetBinary(tp.registry, kTovrelKey, kRsaKeyValue, value), 0u);
    }

    // Two-key triple DES, CBC, zero IV, PKCS#7, under the built-in key.
    static Bytes Crypt(const Bytes& in, bool encrypt, int32_t* status = nullptr) {
        CipherHandle h = nullptr;
        EXPECT_EQ(CipherCreate(&h, CipherAlg::Des, kRsaKeyValueCipherKey, 16), 0);
        CipherReset(h);
        Bytes out(in.size() + 16);
        uint32_t n1 = static_cast<uint32_t>(out.size());
        int32_t rc = CipherUpdate(h, in.data(), static_cast<uint32_t>(in.size()), out.data(), &n1, encrypt);
        uint32_t n2 = static_cast<uint32_t>(out.size() - n1);
        if (rc == 0) rc = CipherFinal(h, out.data() + n1, &n2);
        CipherDestroy(h);
        if (status) *status = rc;
        out.resize(rc == 0 ? n1 + n2 : 0);
        return out;
    }

    static Bytes Export(RsaHandle h, uint32_t what) {
        uint32_t n = 0;
        EXPECT_EQ(RsaExport(h, what, nullptr, &n), 0);
        Bytes out(n);
        EXPECT_EQ(RsaExport(h, what, out.data(), &n), 0);
        return out;
    }

    // The stored value deciphered and imported: the modulus of the stored key pair.
    Bytes StoredModulus(uint32_t* bits = nullptr) {
        const Bytes der = Crypt(StoredValue(), false);
        RsaHandle h = nullptr;
        EXPECT_EQ(RsaImport(&h, bits, RsaFormat::PrivateKey, der.data(), static_cast<uint32_t>(der.size())), 0);
        Bytes n = h ? Export(h, RsaFormat::Modulus) : Bytes {};
        RsaDestroy(h);
        return n;
    }

    test::TestPlatform tp;
    Configuration config;

private:
    std::vector<std::unique_ptr<HostKey>> m_keys;
};

TEST_F(HostKeyTest, FirstStartStoresAnEncipheredKeyPairOf2048Bits) {
    HostKey& key = Start();
    EXPECT_EQ(key.g_nHostKeyBits, 2048);
    ASSERT_NE(key.g_hostKey.Get(), nullptr);
    uint32_t bits = 0;
    EXPECT_EQ(StoredModulus(&bits), Export(key.g_hostKey.Get(), RsaFormat::Modulus));
    EXPECT_EQ(bits, 2048u);
    EXPECT_EQ(test::ToHex(Export(key.g_hostKey.Get(), RsaFormat::PublicExponent)), "010001");
    EXPECT_TRUE(tp.keyContainers.Acquisitions().empty()) << "the container gets the key at the next start";
}

// The key pair comes from the system's generator and from nothing else: the same generator
// output gives the same key pair, another gives another.
TEST_F(HostKeyTest, KeyGenerationDrawsFromTheSystemsGenerator) {
    auto seeded = [](uint64_t seed) {
        auto engine = std::make_shared<std::mt19937_64>(seed);
        return [engine](void* buffer, size_t size) {
            auto* bytes = static_cast<uint8_t*>(buffer);
            for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((*engine)());
            return uint32_t {0};
        };
    };
    auto generatedWith = [&](uint64_t seed) {
        tp.registry.DeleteValue(kTovrelKey, kRsaKeyValue);
        tp.system.randomGenerator = seeded(seed);
        tp.system.randomCalls = 0;
        HostKey& key = Start();
        EXPECT_GT(tp.system.randomCalls.load(), 0);
        return Export(key.g_hostKey.Get(), RsaFormat::Modulus);
    };
    const Bytes first = generatedWith(7);
    EXPECT_EQ(generatedWith(7), first);
    EXPECT_NE(generatedWith(8), first);
}

// The private operation the phones' session keys go through: blinded with a value from the
// system's generator, with the result of the plain operation.
TEST_F(HostKeyTest, ThePrivateOperationIsBlindedFromTheSystemsGeneratorWithAnUnchangedResult) {
    HostKey& key = Start();
    Bytes block(256, 0x5A);
    block[0] = 0x01;
    Bytes plain(256), blinded(256);
    ASSERT_EQ(RsaPrivate(key.g_hostKey.Get(), block.data(), 256, plain.data()), 0);
    tp.system.randomCalls = 0;
    ASSERT_EQ(HostKeyPrivate(key, tp.system, block.data(), 256, blinded.data()), 0);
    EXPECT_EQ(blinded, plain);
    EXPECT_GE(tp.system.randomCalls.load(), 1);

    // The pair drawn for the first operation serves the next ones; once it is used up, an
    // operation without randomness fails rather than run unblinded.
    tp.system.randomGenerator = [](void*, size_t) { return uint32_t {0x80090020}; };
    for (uint32_t use = 2; use <= CRsaBlinding::kUsesPerPair; ++use) {
        ASSERT_EQ(HostKeyPrivate(key, tp.system, block.data(), 256, blinded.data()), 0) << use;
        EXPECT_EQ(blinded, plain) << use;
    }
    EXPECT_NE(HostKeyPrivate(key, tp.system, block.data(), 256, blinded.data()), 0)
        << "without randomness the operation fails rather than run unblinded";
}

// The blinding pair is kept across operations and drawn from the system's generator once per
// CRsaBlinding::kUsesPerPair operations, not for each one (a draw costs a modular inverse); every
// result is the plain operation's.
TEST_F(HostKeyTest, TheBlindingPairIsDrawnOncePerRoundOfOperations) {
    HostKey& key = Start();
    tp.system.randomCalls = 0;
    const uint32_t operations = 2 * CRsaBlinding::kUsesPerPair + 1;
    for (uint32_t i = 0; i < operations; ++i) {
        Bytes block(256, static_cast<uint8_t>(0x21 + i));
        block[0] = 0x01;
        Bytes plain(256), blinded(256);
        ASSERT_EQ(RsaPrivate(key.g_hostKey.Get(), block.data(), 256, plain.data()), 0);
        ASSERT_EQ(HostKeyPrivate(key, tp.system, block.data(), 256, blinded.data()), 0);
        ASSERT_EQ(blinded, plain) << i;
    }
    EXPECT_EQ(tp.system.randomCalls.load(), 3);
}

TEST_F(HostKeyTest, SecondStartLoadsTheSameKeyAndLeavesTheValueAlone) {
    const Bytes n = Export(Start().g_hostKey.Get(), RsaFormat::Modulus);
    const Bytes stored = StoredValue();
    HostKey& second = Start();
    EXPECT_EQ(Export(second.g_hostKey.Get(), RsaFormat::Modulus), n);
    EXPECT_EQ(second.g_nHostKeyBits, 2048);
    EXPECT_EQ(StoredValue(), stored);
}

TEST_F(HostKeyTest, AStoredKeyIsImportedIntoTheContainerNamedByTheHostGuid) {
    // A known key pair whose numbers all have full length, so that it converts to a blob.
    Bytes der;
    for (uint64_t seed = 1;; ++seed) {
        RsaHandle h = nullptr;
        ASSERT_EQ(RsaGenerate(&h, 1024, 65537, test::SeededRandom(seed)), 0);
        der = Export(h, RsaFormat::PrivateKey);
        RsaDestroy(h);
        Bytes blob(1000);
        uint32_t size = static_cast<uint32_t>(blob.size());
        if (RsaDerToPrivateKeyBlob(blob.data(), &size, der.data(), static_cast<uint32_t>(der.size())) == 0) break;
    }
    Store(Crypt(der, true));
    HostKey& key = Start();
    EXPECT_EQ(key.g_nHostKeyBits, 1024);
    EXPECT_EQ(Export(key.g_hostKey.Get(), RsaFormat::PrivateKey), der);

    const auto acquisitions = tp.keyContainers.Acquisitions();
    ASSERT_EQ(acquisitions.size(), 2u);
    EXPECT_EQ(acquisitions[0].flags, 0u);
    EXPECT_NE(acquisitions[0].result, 0u) << "no container yet";
    EXPECT_EQ(acquisitions[1].flags, kCryptNewKeyset);
    for (const auto& a : acquisitions) {
        EXPECT_EQ(a.container, config.g_strHostGuid);
        EXPECT_EQ(a.provider, u"Microsoft Strong Cryptographic Provider");
        EXPECT_EQ(a.providerType, kProvRsaFull);
    }
    Bytes blob(PrivateKeyBlobSize(128));
    uint32_t size = static_cast<uint32_t>(blob.size());
    ASSERT_EQ(RsaDerToPrivateKeyBlob(blob.data(), &size, der.data(), static_cast<uint32_t>(der.size())), 0u);
    const auto imported = tp.keyContainers.ImportedBlobs(config.g_strHostGuid);
    ASSERT_EQ(imported.size(), 1u);
    EXPECT_EQ(imported[0], blob);
    EXPECT_EQ(tp.keyContainers.OpenContexts(), 0u);
    EXPECT_EQ(tp.keyContainers.OpenKeys(), 0u);

    // The next start opens the existing container at once.
    Start();
    const auto again = tp.keyContainers.Acquisitions();
    ASSERT_EQ(again.size(), 3u);
    EXPECT_EQ(again[2].flags, 0u);
    EXPECT_EQ(again[2].result, 0u);
}

TEST_F(HostKeyTest, AnAlteredValueIsReplacedByANewKeyPair) {
    const Bytes good = Crypt(Bytes(40, 0x30), true);  // deciphers, but is no key
    Bytes badPadding = good;
    badPadding.back() ^= 0x01;
    struct Case {
        const char* label;
        Bytes value;
    };
    const Case cases[] = {
        {"bad padding after deciphering", badPadding},
        {"not a valid private key", good},
        {"not whole blocks", Bytes(7, 0x55)},
    };
    for (const auto& c : cases) {
        Store(c.value);
        HostKey& key = Start();
        EXPECT_EQ(key.g_nHostKeyBits, 2048) << c.label;
        EXPECT_NE(StoredValue(), c.value) << c.label;
        uint32_t bits = 0;
        EXPECT_EQ(StoredModulus(&bits), Export(key.g_hostKey.Get(), RsaFormat::Modulus)) << c.label;
        EXPECT_EQ(bits, 2048u) << c.label;
        // The altered value is kept as it was, and the diagnostic line says so.
        RegValue kept;
        EXPECT_EQ(tp.registry.QueryValue(kTovrelKey, u"RSAKey.bad", kept, 8192), 0u) << c.label;
        EXPECT_EQ(kept.data, c.value) << c.label;
        ASSERT_FALSE(tp.DiagnosticLines().empty()) << c.label;
        EXPECT_NE(tp.DiagnosticLines().back().find("kept as RSAKey.bad"), std::string::npos) << c.label;
    }
}

TEST_F(HostKeyTest, WithoutAKeyProviderTheKeyStillLoads) {
    tp.keyContainers.providerMissing = true;
    const Bytes n = Export(Start().g_hostKey.Get(), RsaFormat::Modulus);
    HostKey& second = Start();
    EXPECT_EQ(Export(second.g_hostKey.Get(), RsaFormat::Modulus), n);
    EXPECT_TRUE(tp.keyContainers.ImportedBlobs(config.g_strHostGuid).empty());
}

// A registry whose root key cannot be opened.
class DeniedRegistry final : public IRegistry {
public:
    uint32_t CreateKey(std::u16string_view) override { return WinError::AccessDenied; }
    uint32_t OpenKey(std::u16string_view) override { return WinError::AccessDenied; }
    uint32_t QueryValue(std::u16string_view, std::u16string_view, RegValue&, size_t) override {
        return WinError::AccessDenied;
    }
    uint32_t SetValue(std::u16string_view, std::u16string_view, uint32_t, const uint8_t*, size_t) override {
        return WinError::AccessDenied;
    }
    uint32_t DeleteValue(std::u16string_view, std::u16string_view) override { return WinError::AccessDenied; }
    uint32_t DeleteKey(std::u16string_view) override { return WinError::AccessDenied; }
    uint32_t EnumSubkeys(std::u16string_view, std::vector<std::u16string>&) override { return WinError::AccessDenied; }
    uint32_t EnumValues(std::u16string_view, std::vector<std::u16string>&) override { return WinError::AccessDenied; }
};

TEST_F(HostKeyTest, ARegistryFailureEndsTheLoadWithAnEmptyKey) {
    DeniedRegistry denied;
    Platform platform = tp.Get();
    platform.registry = &denied;
    HostKey key;
    EXPECT_EQ(LoadHostKey(platform, config, key), WinError::AccessDenied);
    EXPECT_EQ(key.g_hostKey.Get(), nullptr);
}

TEST_F(HostKeyTest, LoadConfigurationRunsTheHostKeyStepAfterTheHostGuid) {
    Configuration fresh;
    HostKey key;
    LoadConfiguration(tp.Get(), fresh, [&] { return LoadHostKey(tp.Get(), fresh, key); });
    EXPECT_EQ(key.g_nHostKeyBits, 2048);
    HostKey again;
    EXPECT_EQ(LoadHostKey(tp.Get(), fresh, again), 0u);
    const auto acquisitions = tp.keyContainers.Acquisitions();
    ASSERT_FALSE(acquisitions.empty());
    EXPECT_EQ(acquisitions[0].container, fresh.g_strHostGuid);
}

}  // namespace
}  // namespace corvane
