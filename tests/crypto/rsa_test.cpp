// The RSA engine: DER import and export, the raw operations against OpenSSL, key generation and
// the handle checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "crypto/rsa_key.h"
#include "openssl_oracle.h"
#include "rsa_test_util.h"

namespace corvane::test {
namespace {

const char* const kNumberNames[] = {"n", "e", "d", "rsa-factor1", "rsa-factor2",
                                    "rsa-exponent1", "rsa-exponent2", "rsa-coefficient1"};

// One 2048-bit and one 1024-bit key made by OpenSSL, shared by the tests of this suite.
class RsaWithOpenSslKeys : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_key2048 = OpenSslGenerateRsa(2048).release();
        s_key1024 = OpenSslGenerateRsa(1024).release();
    }
    static void TearDownTestSuite() {
        EVP_PKEY_free(s_key2048);
        EVP_PKEY_free(s_key1024);
    }
    static RsaHandle Import(const Bytes& der, uint32_t format, uint32_t* bits = nullptr) {
        RsaHandle h = nullptr;
        EXPECT_EQ(RsaImport(&h, bits, format, der.data(), static_cast<uint32_t>(der.size())), 0);
        return h;
    }
    static Bytes Export(RsaHandle h, uint32_t what) {
        uint32_t n = 0;
        EXPECT_EQ(RsaExport(h, what, nullptr, &n), 0);
        Bytes out(n);
        EXPECT_EQ(RsaExport(h, what, out.data(), &n), 0);
        out.resize(n);
        return out;
    }
    static EVP_PKEY* s_key2048;
    static EVP_PKEY* s_key1024;
};
EVP_PKEY* RsaWithOpenSslKeys::s_key2048 = nullptr;
EVP_PKEY* RsaWithOpenSslKeys::s_key1024 = nullptr;

TEST_F(RsaWithOpenSslKeys, OpenSslKeysImportAndExportUnchanged) {
    for (EVP_PKEY* key : {s_key2048, s_key1024}) {
        const Bytes priv = OpenSslPrivateDer(key);
        uint32_t bits = 0;
        RsaHandle h = Import(priv, RsaFormat::PrivateKey, &bits);
        EXPECT_EQ(bits, static_cast<uint32_t>(EVP_PKEY_get_bits(key)));
        EXPECT_EQ(ToHex(Export(h, RsaFormat::PrivateKey)), ToHex(priv));
        EXPECT_EQ(ToHex(Export(h, RsaFormat::PublicKey)), ToHex(OpenSslPublicDer(key)));
        EXPECT_EQ(ToHex(Export(h, RsaFormat::Modulus)), ToHex(OpenSslKeyNumber(key, "n")));
        EXPECT_EQ(ToHex(Export(h, RsaFormat::Prime1)), ToHex(OpenSslKeyNumber(key, "rsa-factor1")));
        EXPECT_EQ(ToHex(Export(h, RsaFormat::Prime2)), ToHex(OpenSslKeyNumber(key, "rsa-factor2")));
        EXPECT_EQ(RsaDestroy(h), 0);
    }
}

TEST_F(RsaWithOpenSslKeys, RawPublicAndPrivateOperationsMatchOpenSsl) {
    TestRandom rnd(31337);
    for (EVP_PKEY* key : {s_key2048, s_key1024}) {
        RsaHandle priv = Import(OpenSslPrivateDer(key), RsaFormat::PrivateKey);
        RsaHandle pub = Import(OpenSslPublicDer(key), RsaFormat::PublicKey);
        const Bytes n = OpenSslKeyNumber(key, "n");
        for (int i = 0; i < 8; ++i) {
            Bytes x = rnd.Take(n.size());
            x[0] = static_cast<uint8_t>(x[0] % n[0]);  // below n
            if (i == 0) std::fill(x.begin(), x.end() - 1, 0);  // a tiny value
            Bytes y(n.size()), z(n.size());
            ASSERT_EQ(RsaPublic(pub, x.data(), static_cast<uint32_t>(x.size()), y.data()), 0);
            EXPECT_EQ(ToHex(y), ToHex(*OpenSslRawRsa(key, false, x)));
            ASSERT_EQ(RsaPrivate(priv, x.data(), static_cast<uint32_t>(x.size()), z.data()), 0);
            EXPECT_EQ(ToHex(z), ToHex(*OpenSslRawRsa(key, true, x)));
            // In place, as the callers work.
            ASSERT_EQ(RsaPrivate(priv, y.data(), static_cast<uint32_t>(y.size()), y.data()), 0);
            EXPECT_EQ(ToHex(y), ToHex(x));
        }
        RsaDestroy(priv);
        RsaDestroy(pub);
    }
}

// Blinding changes how the private operation runs, not what it gives: the result equals
// OpenSSL's, a fresh blinding value is drawn for every operation, and without randomness the
// operation fails rather than run unblinded.
TEST_F(RsaWithOpenSslKeys, BlindedPrivateOperationGivesTheSameResultAndDrawsEveryTime) {
    TestRandom rnd(4242);
    int draws = 0;
    RandomSource source = [&](uint8_t* buffer, size_t size) {
        ++draws;
        const Bytes bytes = rnd.Take(size);
        std::copy(bytes.begin(), bytes.end(), buffer);
        return uint32_t {0};
    };
    for (EVP_PKEY* key : {s_key2048, s_key1024}) {
        RsaHandle priv = Import(OpenSslPrivateDer(key), RsaFormat::PrivateKey);
        const Bytes n = OpenSslKeyNumber(key, "n");
        for (int i = 0; i < 6; ++i) {
            Bytes x = rnd.Take(n.size());
            x[0] = static_cast<uint8_t>(x[0] % n[0]);
            if (i == 0) std::fill(x.begin(), x.end(), 0);  // zero stays zero
            Bytes y(n.size());
            const int before = draws;
            ASSERT_EQ(RsaPrivateBlinded(priv, x.data(), static_cast<uint32_t>(x.size()), y.data(), source), 0);
            EXPECT_GE(draws, before + 1);
            EXPECT_EQ(ToHex(y), ToHex(*OpenSslRawRsa(key, true, x)));
        }
        Bytes x(n.size(), 0x01), y(n.size());
        RandomSource failing = [](uint8_t*, size_t) { return uint32_t {5}; };
        EXPECT_EQ(RsaPrivateBlinded(priv, x.data(), static_cast<uint32_t>(x.size()), y.data(), failing),
                  CryptoStatus::InternalFailure);
        EXPECT_EQ(RsaPrivateBlinded(priv, x.data(), 3, y.data(), source), CryptoStatus::RsaBadLength);
        RsaDestroy(priv);
    }
}

TEST_F(RsaWithOpenSslKeys, PrivateOperationWithoutCrtNumbersUsesTheExponent) {
    // A key holding only n and d takes the plain path x^d mod n.
    CRSA key;
    const Bytes n = OpenSslKeyNumber(s_key1024, "n"), d = OpenSslKeyNumber(s_key1024, "d");
    ASSERT_TRUE(key.m_bnN.SetBytes(n.data(), n.size()) && key.m_bnD.SetBytes(d.data(), d.size()));
    key.m_bHasPrivate = 1;
    ASSERT_TRUE(key.Prepare());
    Bytes x(n.size(), 0x11), y(n.size());
    ASSERT_EQ(key.Private(x.data(), static_cast<uint32_t>(x.size()), y.data()), 0);
    EXPECT_EQ(ToHex(y), ToHex(*OpenSslRawRsa(s_key1024, true, x)));
    EXPECT_EQ(key.Public(x.data(), static_cast<uint32_t>(x.size()), y.data()), CryptoStatus::KeyPartMissing);
}

TEST_F(RsaWithOpenSslKeys, CrtIsRightWhenTheSecondPrimeIsTheLarger) {
    // The same key with p and q exchanged (dP, dQ exchanged, qInv = p^-1 mod q).
    std::vector<Bytes> numbers;
    for (const char* name : kNumberNames) numbers.push_back(OpenSslKeyNumber(s_key1024, name));
    std::swap(numbers[3], numbers[4]);
    std::swap(numbers[5], numbers[6]);
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* p = BN_bin2bn(numbers[4].data(), static_cast<int>(numbers[4].size()), nullptr);
    BIGNUM* q = BN_bin2bn(numbers[3].data(), static_cast<int>(numbers[3].size()), nullptr);
    BIGNUM* inv = BN_mod_inverse(nullptr, p, q, ctx);  // new qInv = (new q)^-1 mod (new p)
    numbers[7].assign(BN_num_bytes(inv), 0);
    BN_bn2bin(inv, numbers[7].data());
    BN_free(p), BN_free(q), BN_free(inv), BN_CTX_free(ctx);
    std::vector<Bytes> elements {DerInteger(Hex("00"))};
    for (const auto& v : numbers) elements.push_back(DerInteger(v));
    RsaHandle swapped = Import(DerSequence(elements), RsaFormat::PrivateKey);
    RsaHandle original = Import(OpenSslPrivateDer(s_key1024), RsaFormat::PrivateKey);
    TestRandom rnd(5);
    for (int i = 0; i < 16; ++i) {
        Bytes x = rnd.Take(numbers[0].size());
        x[0] = static_cast<uint8_t>(x[0] % numbers[0][0]);
        Bytes a(x.size()), b(x.size());
        ASSERT_EQ(RsaPrivate(original, x.data(), static_cast<uint32_t>(x.size()), a.data()), 0);
        ASSERT_EQ(RsaPrivate(swapped, x.data(), static_cast<uint32_t>(x.size()), b.data()), 0);
        EXPECT_EQ(ToHex(a), ToHex(b));
    }
    RsaDestroy(swapped);
    RsaDestroy(original);
}

TEST_F(RsaWithOpenSslKeys, EdgeCasesOfLengthsAndEncodings) {
    RsaHandle h = Import(OpenSslPrivateDer(s_key2048), RsaFormat::PrivateKey);
    uint32_t n = 0;
    ASSERT_EQ(RsaExport(h, RsaFormat::Modulus, nullptr, &n), 0);
    EXPECT_EQ(n, 256u);
    EXPECT_EQ(ToHex(Export(h, RsaFormat::PublicExponent)), "010001");
    const Bytes pub = Export(h, RsaFormat::PublicKey);
    const Bytes modulus = Export(h, RsaFormat::Modulus);
    // SEQUENCE, then n as 02 82 01 01 00 and its 256 bytes, then e as 02 03 01 00 01.
    EXPECT_EQ(ToHex(Bytes(pub.begin() + 4, pub.begin() + 9)), "0282010100");
    EXPECT_EQ(ToHex(Bytes(pub.begin() + 9, pub.begin() + 265)), ToHex(modulus));
    EXPECT_EQ(ToHex(Bytes(pub.end() - 5, pub.end())), "0203010001");

    Bytes buf(256);
    EXPECT_EQ(RsaPublic(h, buf.data(), 255, buf.data()), CryptoStatus::RsaBadLength);
    EXPECT_EQ(RsaPrivate(h, buf.data(), 257, buf.data()), CryptoStatus::RsaBadLength);
    Bytes equalToN = modulus;
    EXPECT_EQ(RsaPublic(h, equalToN.data(), 256, buf.data()), CryptoStatus::RsaInputTooLarge);
    EXPECT_EQ(RsaPrivate(h, equalToN.data(), 256, buf.data()), CryptoStatus::RsaInputTooLarge);
    RsaDestroy(h);
}

TEST_F(RsaWithOpenSslKeys, ExportRefusalsAndSizeQueries) {
    RsaHandle pub = Import(OpenSslPublicDer(s_key1024), RsaFormat::PublicKey);
    uint32_t n = 1000;
    Bytes buf(1000);
    EXPECT_EQ(RsaExport(pub, RsaFormat::PrivateKey, buf.data(), &n), CryptoStatus::KeyPartMissing);
    EXPECT_EQ(RsaExport(pub, RsaFormat::Prime1, buf.data(), &n), CryptoStatus::KeyPartMissing);
    EXPECT_EQ(RsaPrivate(pub, buf.data(), 128, buf.data()), CryptoStatus::KeyPartMissing);
    EXPECT_EQ(RsaExport(pub, 3, buf.data(), &n), CryptoStatus::UnknownKeyFormat);
    EXPECT_EQ(RsaExport(pub, 133, buf.data(), &n), CryptoStatus::UnknownKeyFormat);
    EXPECT_EQ(RsaExport(pub, RsaFormat::Modulus, buf.data(), nullptr), CryptoStatus::NullPointer);
    // Short buffers: a format stores the size needed, a component leaves the length alone.
    n = 10;
    EXPECT_EQ(RsaExport(pub, RsaFormat::PublicKey, buf.data(), &n), CryptoStatus::BufferTooSmall);
    EXPECT_EQ(n, OpenSslPublicDer(s_key1024).size());
    n = 10;
    EXPECT_EQ(RsaExport(pub, RsaFormat::Modulus, buf.data(), &n), CryptoStatus::BufferTooSmall);
    EXPECT_EQ(n, 10u);
    RsaDestroy(pub);
}

TEST(RsaImportRules, MalformedAndOddlyFormedKeys) {
    const Bytes n = Hex("00c5a1f3e2d4b6a8"), e = Hex("010001");
    const Bytes pub = DerSequence({DerInteger(n), DerInteger(e)});
    Bytes trailing = pub;
    trailing.push_back(0);
    Bytes lengthTooLong = pub;
    lengthTooLong[1] += 1;
    Bytes tagWrong = pub;
    tagWrong[2] = 0x03;
    const Bytes indefinite = Hex("3080020100020101");
    const Bytes fiveLengthBytes = Hex("308500000000060201010201 01");
    struct Case {
        const char* label;
        uint32_t format;
        Bytes der;
        int32_t status;
    };
    std::vector<Bytes> priv {DerElement(0x04, Hex("00"))};  // the version is not examined
    for (int i = 0; i < 8; ++i) priv.push_back(DerInteger(Hex("0101")));
    std::vector<Bytes> shortPriv(priv.begin(), priv.end() - 1);
    const Case cases[] = {
        {"well-formed public key", RsaFormat::PublicKey, pub, 0},
        {"trailing byte after the sequence", RsaFormat::PublicKey, trailing, CryptoStatus::MalformedDer},
        {"sequence length past the end", RsaFormat::PublicKey, lengthTooLong, CryptoStatus::MalformedDer},
        {"modulus not an INTEGER", RsaFormat::PublicKey, tagWrong, CryptoStatus::MalformedDer},
        {"indefinite length", RsaFormat::PublicKey, indefinite, CryptoStatus::MalformedDer},
        {"five length bytes", RsaFormat::PublicKey, fiveLengthBytes, CryptoStatus::MalformedDer},
        {"sequence tag alone", RsaFormat::PublicKey, Hex("30"), CryptoStatus::MalformedDer},
        {"private key with an OCTET STRING version", RsaFormat::PrivateKey, DerSequence(priv), 0},
        {"private key missing qInv", RsaFormat::PrivateKey, DerSequence(shortPriv), CryptoStatus::MalformedDer},
        {"public key read as private", RsaFormat::PrivateKey, pub, CryptoStatus::MalformedDer},
        {"unknown format", 3, pub, CryptoStatus::UnknownKeyFormat},
    };
    for (const auto& c : cases) {
        RsaHandle h = nullptr;
        EXPECT_EQ(RsaImport(&h, nullptr, c.format, c.der.data(), static_cast<uint32_t>(c.der.size())), c.status)
            << c.label;
        if (h) RsaDestroy(h);
    }
    RsaHandle h = nullptr;
    EXPECT_EQ(RsaImport(&h, nullptr, RsaFormat::PublicKey, pub.data(), 0), CryptoStatus::MalformedDer);
    EXPECT_EQ(RsaImport(&h, nullptr, RsaFormat::PublicKey, nullptr, 4), CryptoStatus::NullPointer);
    EXPECT_EQ(RsaImport(nullptr, nullptr, RsaFormat::PublicKey, pub.data(), 4), CryptoStatus::NullPointer);
}

TEST(RsaImportRules, KeysWithUnusableNumbersFailTheirOperationsWithoutHarm) {
    // An even modulus and zero primes import (the DER is well-formed) but cannot be used.
    std::vector<Bytes> priv {DerInteger(Hex("00"))};
    for (const char* v : {"0100", "03", "05", "00", "00", "00", "00", "00"}) priv.push_back(DerInteger(Hex(v)));
    const Bytes der = DerSequence(priv);
    RsaHandle h = nullptr;
    ASSERT_EQ(RsaImport(&h, nullptr, RsaFormat::PrivateKey, der.data(), static_cast<uint32_t>(der.size())), 0);
    uint8_t buf[2] = {0, 5};
    EXPECT_EQ(RsaPublic(h, buf, 2, buf), CryptoStatus::RsaPublicFailed);
    EXPECT_EQ(RsaPrivate(h, buf, 2, buf), CryptoStatus::InternalFailure);
    uint32_t n = 64;
    uint8_t out[64];
    EXPECT_EQ(RsaExport(h, RsaFormat::PrivateKey, out, &n), CryptoStatus::KeyPartMissing) << "zero numbers";
    RsaDestroy(h);
}

TEST(RsaGeneration, GeneratedKeysPassOpenSslsCheck) {
    for (uint32_t bits : {2048u, 1024u, 768u}) {
        RsaHandle h = nullptr;
        ASSERT_EQ(RsaGenerate(&h, bits, 65537, SeededRandom(bits)), 0) << bits;
        uint32_t n = 0;
        ASSERT_EQ(RsaExport(h, RsaFormat::PrivateKey, nullptr, &n), 0);
        Bytes der(n);
        ASSERT_EQ(RsaExport(h, RsaFormat::PrivateKey, der.data(), &n), 0);
        EvpKey key = OpenSslParsePrivateDer(der);
        ASSERT_TRUE(key) << "OpenSSL parses the exported key";
        EXPECT_EQ(EVP_PKEY_get_bits(key.get()), static_cast<int>(bits));
        EXPECT_TRUE(OpenSslCheckPrivateKey(key.get()));
        // p > q, and |p - q| is large.
        const Bytes p = OpenSslKeyNumber(key.get(), "rsa-factor1"), q = OpenSslKeyNumber(key.get(), "rsa-factor2");
        EXPECT_EQ(p.size(), q.size());
        EXPECT_GT(ToHex(p), ToHex(q));
        EXPECT_EQ(ToHex(OpenSslKeyNumber(key.get(), "e")), "010001");
        RsaDestroy(h);
    }
}

TEST(RsaGeneration, TheRandomSourceIsTheOnlyInputAndItsFailureFailsTheGeneration) {
    auto generate = [](const RandomSource& random, Bytes& der) {
        RsaHandle h = nullptr;
        const int32_t rc = RsaGenerate(&h, 512, 65537, random);
        if (rc) return rc;
        uint32_t n = 2000;
        der.resize(n);
        RsaExport(h, RsaFormat::PrivateKey, der.data(), &n);
        der.resize(n);
        RsaDestroy(h);
        return rc;
    };
    Bytes a, b, c;
    ASSERT_EQ(generate(SeededRandom(1), a), 0);
    ASSERT_EQ(generate(SeededRandom(1), b), 0);
    ASSERT_EQ(generate(SeededRandom(2), c), 0);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);

    int calls = 0;
    RandomSource failing = [&calls](uint8_t*, size_t) {
        ++calls;
        return uint32_t {5};
    };
    RsaHandle h = nullptr;
    EXPECT_EQ(RsaGenerate(&h, 512, 65537, failing), CryptoStatus::KeyGenerationFailed);
    EXPECT_EQ(calls, 11) << "each of the 11 attempts asks once and gives up";
    EXPECT_EQ(RsaGenerate(&h, 512, 65537, RandomSource {}), CryptoStatus::InvalidArguments);
    EXPECT_EQ(RsaGenerate(&h, 512, 4, SeededRandom(3)), CryptoStatus::InvalidArguments);
    EXPECT_EQ(RsaGenerate(nullptr, 512, 65537, SeededRandom(3)), CryptoStatus::NullPointer);
}

// A source that "succeeds" but repeats itself puts every q as close to p as the first: the
// search for a q apart from p gives up, and after the attempts the generation fails instead of
// hanging the start.
TEST(RsaGeneration, ASourceThatRepeatsItselfFailsInsteadOfHanging) {
    int calls = 0;
    RandomSource constant = [&calls](uint8_t* buffer, size_t size) {
        ++calls;
        std::fill(buffer, buffer + size, uint8_t {0x5A});
        return uint32_t {0};
    };
    RsaHandle h = nullptr;
    EXPECT_EQ(RsaGenerate(&h, 512, 65537, constant), CryptoStatus::KeyGenerationFailed);
    EXPECT_EQ(h, nullptr);
    EXPECT_GT(calls, 11);
}

TEST(RsaHandles, StaleAndForeignHandlesAreRefused) {
    RsaHandle h = nullptr;
    ASSERT_EQ(RsaGenerate(&h, 512, 3, SeededRandom(9)), 0);
    ASSERT_EQ(RsaDestroy(h), 0);
    uint8_t buf[64] = {};
    uint32_t n = sizeof buf;
    EXPECT_EQ(RsaPublic(h, buf, 64, buf), CryptoStatus::InvalidHandle);
    EXPECT_EQ(RsaExport(h, RsaFormat::Modulus, buf, &n), CryptoStatus::InvalidHandle);
    EXPECT_EQ(RsaDestroy(h), CryptoStatus::InvalidHandle);
    EXPECT_EQ(RsaDestroy(nullptr), CryptoStatus::InvalidHandle);
    DigestHandle d = nullptr;
    ASSERT_EQ(DigestCreate(&d, DigestAlg::Md5), 0);
    EXPECT_EQ(RsaDestroy(reinterpret_cast<RsaHandle>(d)), CryptoStatus::InvalidHandle);
    EXPECT_EQ(DigestDestroy(d), 0);
}

TEST(RsaConcurrency, OneKeyServesSeveralThreadsAtOnce) {
    RsaHandle h = nullptr;
    ASSERT_EQ(RsaGenerate(&h, 1024, 65537, SeededRandom(77)), 0);
    std::atomic<int> failures {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            TestRandom rnd(static_cast<uint64_t>(t));
            for (int i = 0; i < 5; ++i) {
                Bytes x = rnd.Take(128);
                x[0] &= 0x3F;
                Bytes y(128), z(128);
                if (RsaPrivate(h, x.data(), 128, y.data()) || RsaPublic(h, y.data(), 128, z.data()) || z != x) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    RsaDestroy(h);
}

}  // namespace
}  // namespace corvane::test
