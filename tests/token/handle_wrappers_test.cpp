// The scope owners release exactly what they own.
#include <gtest/gtest.h>

#include "crypto/cipher.h"
#include "crypto/rsa.h"
#include "crypto/rsa_test_util.h"
#include "support/fake_key_containers.h"
#include "token/handle_wrappers.h"

namespace corvane::test {
namespace {

CipherHandle NewCipher() {
    const uint8_t key[16] = {1, 2, 3};
    CipherHandle h = nullptr;
    EXPECT_EQ(CipherCreate(&h, CipherAlg::Aes, key, 16), 0);
    return h;
}

RsaHandle NewRsa() {
    RsaHandle h = nullptr;
    EXPECT_EQ(RsaGenerate(&h, 512, 65537, SeededRandom(1)), 0);
    return h;
}

TEST(HandleWrappers, ProviderAndKeyHandlesAreReleasedThroughTheSeam) {
    FakeKeyContainers containers;
    {
        ChProv prov(&containers);
        ASSERT_EQ(containers.AcquireContext(*prov.Out(), u"c", kMsStrongProvider, kProvRsaFull, kCryptNewKeyset), 0u);
        ChKey key(&containers);
        const uint8_t blob[4] = {7, 2, 0, 0};
        ASSERT_EQ(containers.ImportKey(prov.Get(), blob, 4, 0, *key.Out()), 0u);
        EXPECT_EQ(containers.OpenContexts(), 1u);
        EXPECT_EQ(containers.OpenKeys(), 1u);
    }
    EXPECT_EQ(containers.OpenContexts(), 0u);
    EXPECT_EQ(containers.OpenKeys(), 0u);
    ChProv empty(&containers);  // a zero handle is not released
}

TEST(HandleWrappers, CipherContextIsDestroyedOnlyWhenOwned) {
    CipherHandle owned = NewCipher();
    CipherHandle borrowed = NewCipher();
    {
        ChSymmCtx a(owned, true);
        ChSymmCtx b(borrowed, false);
    }
    EXPECT_EQ(CipherReset(owned), CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherReset(borrowed), 0);
    ChSymmCtx c(borrowed, false);
    c.Release();
    EXPECT_EQ(c.m_nOwned, 0u);
    EXPECT_EQ(c.Get(), borrowed) << "a borrowed handle stays";
    EXPECT_EQ(CipherDestroy(borrowed), 0);
}

TEST(HandleWrappers, AsymmetricReleaseDestroysWhateverTheOwnedFlagSays) {
    RsaHandle h = NewRsa();
    ChAsymmCtx holder(h, false);
    EXPECT_EQ(holder.Release(), 0);
    EXPECT_EQ(holder.Get(), nullptr);
    EXPECT_EQ(RsaDestroy(h), CryptoStatus::InvalidHandle) << "already destroyed by Release";
    // A stale handle: -104, nulled all the same; a null handle: 0.
    ChAsymmCtx stale(h, true);
    EXPECT_EQ(stale.Release(), CryptoStatus::InvalidHandle);
    EXPECT_EQ(stale.Get(), nullptr);
    EXPECT_EQ(stale.m_nOwned, 0u);
    EXPECT_EQ(stale.Release(), 0);
}

TEST(HandleWrappers, AttachingAnRsaHandleReleasesThePreviousOne) {
    RsaHandle first = NewRsa();
    RsaHandle second = NewRsa();
    {
        ChAsymmCtx holder;
        holder.Attach(first);
        holder.Attach(second);
        EXPECT_EQ(RsaDestroy(first), CryptoStatus::InvalidHandle);
        EXPECT_EQ(holder.m_nOwned, 1u);
    }
    EXPECT_EQ(RsaDestroy(second), CryptoStatus::InvalidHandle);
}

TEST(HandleWrappers, BytePointerFreesOnlyOwnedBuffers) {
    uint8_t local[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    {
        CBytePtr borrowed(local, false);
        CBytePtr owned;
        ASSERT_TRUE(owned.Allocate(32));
        EXPECT_EQ(owned.m_nOwned, 1u);
        EXPECT_EQ(owned.Get()[31], 0);
        owned.Attach(local, false);  // frees the allocation, borrows the local buffer
        EXPECT_EQ(owned.m_nOwned, 0u);
    }
    EXPECT_EQ(local[7], 8) << "a borrowed buffer is neither freed nor wiped";
}

}  // namespace
}  // namespace corvane::test
