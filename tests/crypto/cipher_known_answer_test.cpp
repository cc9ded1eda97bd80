// Known-answer vectors of the standards, one table per algorithm family.
#include <gtest/gtest.h>

#include "cipher_test_util.h"

namespace corvane::test {
namespace {

struct BlockVector {
    const char* label;
    uint32_t algorithm;
    const char* key;
    const char* plain;
    const char* cipher;
};

// Single-block ECB vectors: DES (FIPS 46-3 validation and SP 800-20 tables), triple DES
// (SP 800-67), AES (FIPS 197 appendices B and C), RC2 (RFC 2268 vectors whose effective key
// length is eight times the key length).
const BlockVector kBlockVectors[] = {
    {"des classic", CipherAlg::Des, "133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"des now is t", CipherAlg::Des, "0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"des variable plaintext 1", CipherAlg::Des, "0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"des variable plaintext 2", CipherAlg::Des, "0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"des variable plaintext 64", CipherAlg::Des, "0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"des variable key 1", CipherAlg::Des, "8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"des key of 15 bytes uses the first 8", CipherAlg::Des, "0123456789ABCDEF01020304050607", "4E6F772069732074",
     "3FA40E8A984D4815"},
    {"two-key tdes with equal halves is des", CipherAlg::Des, "0123456789ABCDEF0123456789ABCDEF", "4E6F772069732074",
     "3FA40E8A984D4815"},
    {"three-key tdes", CipherAlg::Des, "0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123", "5468652071756663",
     "A826FD8CE53B855F"},
    {"aes-128 fips 197 b", CipherAlg::Aes, "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"aes-128 fips 197 c.1", CipherAlg::Aes, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"aes-192 fips 197 c.2", CipherAlg::Aes, "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"aes-256 fips 197 c.3", CipherAlg::Aes, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    {"rc2 64-bit all ones", CipherAlg::Rc2, "ffffffffffffffff", "ffffffffffffffff", "278b27e42e2f0d49"},
    {"rc2 64-bit", CipherAlg::Rc2, "3000000000000000", "1000000000000001", "30649edf9be7d2c2"},
    {"rc2 128-bit", CipherAlg::Rc2, "88bca90e90875a7f0f79c384627bafb2", "0000000000000000", "2269552ab0f85ca6"},
};

class BlockKnownAnswer : public ::testing::TestWithParam<BlockVector> {};

TEST_P(BlockKnownAnswer, EncryptsAndDecryptsInEcb) {
    const BlockVector& v = GetParam();
    const CipherRun enc = RunCipher(v.algorithm, Hex(v.key), false, true, Hex(v.plain));
    ASSERT_EQ(enc.status, 0);
    EXPECT_EQ(ToHex(enc.out), ToHex(Hex(v.cipher)));
    const CipherRun dec = RunCipher(v.algorithm, Hex(v.key), false, false, Hex(v.cipher));
    ASSERT_EQ(dec.status, 0);
    EXPECT_EQ(ToHex(dec.out), ToHex(Hex(v.plain)));
}

INSTANTIATE_TEST_SUITE_P(Standards, BlockKnownAnswer, ::testing::ValuesIn(kBlockVectors),
                         [](const auto& info) {
                             std::string name = info.param.label;
                             for (auto& c : name) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(TripleDesKnownAnswer, ThreeBlockMessageOfSp80067) {
    const Bytes key = Hex("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
    const Bytes plain = Ascii("The qufck brown fox jump");
    const CipherRun enc = RunCipher(CipherAlg::Des, key, false, true, plain);
    ASSERT_EQ(enc.status, 0);
    EXPECT_EQ(ToHex(enc.out), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
}

struct StreamVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

TEST(Rc4KnownAnswer, ClassicVectors) {
    const StreamVector vectors[] = {
        {"Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki", "pedia", "1021bf0420"},
        {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
    };
    for (const auto& v : vectors) {
        const CipherRun enc = RunCipher(CipherAlg::Rc4, Ascii(v.key), false, true, Ascii(v.plain));
        ASSERT_EQ(enc.status, 0) << v.key;
        EXPECT_EQ(ToHex(enc.out), v.cipher) << v.key;
    }
}

}  // namespace
}  // namespace corvane::test
