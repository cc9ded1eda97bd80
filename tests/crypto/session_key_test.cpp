// The session key of the keyed channels: wrapping under the peer's key, unwrapping with the
// check block, and the per-message cipher.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crypto/session_key.h"
#include "rsa_test_util.h"
#include "support/phone_keys.h"

namespace corvane::test {
namespace {

using Block = std::vector<uint8_t>;

// A type-2 block of modulus size, built by hand, wrapped under the key.
Block WrapByHand(const TestKeyPair& key, const Block& plain) {
    Block wrapped(plain.size());
    EXPECT_EQ(RsaPublic(key.handle, plain.data(), static_cast<uint32_t>(plain.size()), wrapped.data()), 0);
    return wrapped;
}

Block CheckBlockFor(const uint8_t* sessionKey) {
    CipherHandle cipher = nullptr;
    EXPECT_EQ(CreateSessionCipher(sessionKey, &cipher), SessionKeyStatus::Ok);
    Block check(kCheckBlockSize);
    EXPECT_EQ(ComputeCheckBlock(cipher, check.data()), SessionKeyStatus::Ok);
    CipherDestroy(cipher);
    return check;
}

Block Encrypt(CipherHandle cipher, const Block& plain) {
    Block out(plain.size() + kSessionPaddingMax);
    size_t n = 0;
    EXPECT_EQ(SessionEncrypt(cipher, plain.data(), plain.size(), out.data(), &n), SessionKeyStatus::Ok);
    out.resize(n);
    return out;
}

TEST(SessionKeyTest, WrappedKeyUnwrapsToTheSameCipher) {
    const TestKeyPair& key = PhoneTestKey(1024);
    Block wrapped(128);
    CipherHandle ours = nullptr;
    ASSERT_EQ(WrapNewSessionKey(key.handle, 128, SeededRandom(1), wrapped.data(), &ours), SessionKeyStatus::Ok);
    CipherHandle theirs = nullptr;
    ASSERT_EQ(UnwrapSessionKey(key.handle, wrapped.data(), 128, &theirs), SessionKeyStatus::Ok);
    const Block message = {'l', 'o', 'g', 'o', 'n', 0, 1, 2, 3, 4, 5};
    const Block sealed = Encrypt(ours, message);
    EXPECT_EQ(sealed.size(), 16u);
    EXPECT_EQ(Encrypt(theirs, message), sealed);  // the cipher restarts for every message
    Block opened(sealed.size());
    size_t n = 0;
    ASSERT_EQ(SessionDecrypt(theirs, sealed.data(), sealed.size(), opened.data(), &n), SessionKeyStatus::Ok);
    opened.resize(n);
    EXPECT_EQ(opened, message);
    CipherDestroy(ours);
    CipherDestroy(theirs);
}

TEST(SessionKeyTest, EveryWrapDrawsAFreshKeyAndNonZeroPadding) {
    const TestKeyPair& key = PhoneTestKey(1024);
    Block first(128), second(128);
    CipherHandle a = nullptr, b = nullptr;
    ASSERT_EQ(WrapNewSessionKey(key.handle, 128, SeededRandom(2), first.data(), &a), SessionKeyStatus::Ok);
    ASSERT_EQ(WrapNewSessionKey(key.handle, 128, SeededRandom(3), second.data(), &b), SessionKeyStatus::Ok);
    EXPECT_NE(Encrypt(a, {1, 2, 3}), Encrypt(b, {1, 2, 3}));
    Block plain(128);
    ASSERT_EQ(RsaPrivate(key.handle, first.data(), 128, plain.data()), 0);
    EXPECT_EQ(plain[0], 0);
    EXPECT_EQ(plain[1], 2);
    for (size_t i = 2; i < 128 - 25; ++i) EXPECT_NE(plain[i], 0) << i;
    EXPECT_EQ(plain[128 - 25], 0);
    CipherDestroy(a);
    CipherDestroy(b);
}

TEST(SessionKeyTest, SmallModulusOrFailingRandomSourceIsRefused) {
    const TestKeyPair& key = PhoneTestKey(256);
    Block wrapped(32);
    CipherHandle cipher = nullptr;
    EXPECT_EQ(WrapNewSessionKey(key.handle, 32, SeededRandom(4), wrapped.data(), &cipher), SessionKeyStatus::Fail);
    EXPECT_EQ(cipher, nullptr);
    const RandomSource broken = [](uint8_t*, size_t) { return uint32_t {5}; };
    Block big(128);
    EXPECT_EQ(WrapNewSessionKey(PhoneTestKey(1024).handle, 128, broken, big.data(), &cipher), SessionKeyStatus::Fail);
    EXPECT_EQ(cipher, nullptr);
}

// The sizes of the peer's key a session key may be wrapped under, judged from its DER alone.
TEST(SessionKeyTest, PeerKeyOutsideTheSizeBoundsIsRefusedFromItsDer) {
    const struct {
        const char* label;
        Block der;
        SessionKeyStatus expected;
    } cases[] = {
        {"a real 1024-bit key", PhoneTestKey(1024).publicDer, SessionKeyStatus::Ok},
        {"modulus of 34 bytes", RawPublicKeyDer(34, 3), SessionKeyStatus::Fail},
        {"modulus of 35 bytes", RawPublicKeyDer(35, 3), SessionKeyStatus::Ok},
        {"modulus of 1024 bytes", RawPublicKeyDer(1024, 3), SessionKeyStatus::Ok},
        {"modulus of 1025 bytes", RawPublicKeyDer(1025, 3), SessionKeyStatus::Fail},
        {"exponent of 4 bytes", RawPublicKeyDer(128, 4), SessionKeyStatus::Ok},
        {"exponent of 5 bytes", RawPublicKeyDer(128, 5), SessionKeyStatus::Fail},
        {"exponent of 40 KB", RawPublicKeyDer(128, 40000), SessionKeyStatus::Fail},
        {"no DER", Block(40, 0x30), SessionKeyStatus::BadData},
        {"a trailing byte", [] { Block d = RawPublicKeyDer(128, 3); d.push_back(0); return d; }(),
         SessionKeyStatus::BadData},
    };
    // The moduli are written with a leading zero byte (their top bit is set): it does not count.
    for (const auto& c : cases) EXPECT_EQ(CheckPeerPublicKey(c.der.data(), c.der.size()), c.expected) << c.label;
}

TEST(SessionKeyTest, MalformedBlocksAreRejected) {
    const TestKeyPair& key = PhoneTestKey(1024);
    const uint8_t sessionKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const Block check = CheckBlockFor(sessionKey);
    // A well-formed block with `padding` bytes of 0x55 and `data` behind the separator.
    auto build = [&](size_t padding, const Block& data, uint8_t type) {
        Block b(128, 0);
        b[1] = type;
        const size_t start = 128 - data.size() - 1 - padding;
        std::fill(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(start + padding), 0x55);
        std::memcpy(b.data() + 128 - data.size(), data.data(), data.size());
        return b;
    };
    Block good(sessionKey, sessionKey + 16);
    good.insert(good.end(), check.begin(), check.end());
    Block wrongCheck = good;
    wrongCheck[20] ^= 1;
    Block shortData(good.begin(), good.end() - 1);
    struct Case {
        const char* label;
        Block plain;
        SessionKeyStatus expected;
    } cases[] = {
        {"well formed", build(128 - 27, good, 2), SessionKeyStatus::Ok},
        {"block type 1", build(128 - 27, good, 1), SessionKeyStatus::BadData},
        {"separator after no padding", build(7, good, 2), SessionKeyStatus::BadData},
        {"23 data bytes", build(128 - 26, shortData, 2), SessionKeyStatus::BadData},
        {"check block of another key", build(128 - 27, wrongCheck, 2), SessionKeyStatus::BadData},
    };
    for (const Case& c : cases) {
        const Block wrapped = WrapByHand(key, c.plain);
        CipherHandle cipher = nullptr;
        EXPECT_EQ(UnwrapSessionKey(key.handle, wrapped.data(), 128, &cipher), c.expected) << c.label;
        EXPECT_EQ(cipher != nullptr, c.expected == SessionKeyStatus::Ok) << c.label;
        if (cipher) CipherDestroy(cipher);
    }
}

TEST(SessionKeyTest, DecryptRefusesBadPaddingAndPartialBlocks) {
    const uint8_t sessionKey[16] = {9};
    CipherHandle cipher = nullptr;
    ASSERT_EQ(CreateSessionCipher(sessionKey, &cipher), SessionKeyStatus::Ok);
    Block sealed = Encrypt(cipher, {1, 2, 3});
    sealed.back() ^= 0x80;
    Block out(16);
    size_t n = 0;
    EXPECT_EQ(SessionDecrypt(cipher, sealed.data(), sealed.size(), out.data(), &n), SessionKeyStatus::BadData);
    EXPECT_EQ(SessionDecrypt(cipher, sealed.data(), 5, out.data(), &n), SessionKeyStatus::BadData);
    // The cipher is usable again for the next message.
    const Block again = Encrypt(cipher, {1, 2, 3});
    ASSERT_EQ(SessionDecrypt(cipher, again.data(), again.size(), out.data(), &n), SessionKeyStatus::Ok);
    EXPECT_EQ(n, 3u);
    CipherDestroy(cipher);
}

}  // namespace
}  // namespace corvane::test
