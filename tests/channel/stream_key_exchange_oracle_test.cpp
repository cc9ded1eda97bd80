// The key exchange as a client written from the message layouts alone sees it, with OpenSSL in
// place of the service's own crypto: RSA keys of 512 to 4096 bits, the wrapped block unwrapped
// with the raw private operation, its layout checked and the check block recomputed with OpenSSL's
// triple DES; then a keyed request decrypted by OpenSSL.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>

#include "stream_world.h"

namespace corvane::test {
namespace {

struct PkeyDeleter {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

void LoadProviders() {
    // Two-key triple DES in CBC lives in the default provider; the legacy one is loaded for
    // builds that moved it. Both stay loaded until the process ends.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    (void)legacy;
    (void)standard;
}

std::vector<uint8_t> RsaPublicKeyDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int size = i2d_PublicKey(key, &der);  // PKCS#1 RSAPublicKey for an RSA key
    std::vector<uint8_t> out(der, der + (size > 0 ? size : 0));
    OPENSSL_free(der);
    return out;
}

std::vector<uint8_t> RawPrivate(EVP_PKEY* key, const std::vector<uint8_t>& in) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    std::vector<uint8_t> out(in.size());
    size_t size = out.size();
    const bool ok = EVP_PKEY_decrypt_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1 &&
                    EVP_PKEY_decrypt(ctx, out.data(), &size, in.data(), in.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!ok) return {};
    // Left-pad to the modulus size: the block starts with 0x00.
    out.resize(size);
    out.insert(out.begin(), in.size() - size, 0);
    return out;
}

std::vector<uint8_t> TripleDes(const uint8_t* key, const std::vector<uint8_t>& data, bool encrypt) {
    LoadProviders();
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE-CBC", nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const uint8_t iv[8] = {};
    std::vector<uint8_t> out(data.size() + 16);
    int n = 0, tail = 0;
    const bool ok = cipher && EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, encrypt ? 1 : 0) == 1 &&
                    EVP_CipherUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx, out.data() + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    if (!ok) return {};
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

class KeyExchangeOracleTest : public ::testing::TestWithParam<int> {};

TEST_P(KeyExchangeOracleTest, UnwrapsToASessionKeyWhoseCheckBlockMatches) {
    StreamWorld w;
    const int bits = GetParam();
    Pkey key(EVP_RSA_gen(static_cast<unsigned>(bits)));
    ASSERT_TRUE(key);
    std::vector<uint8_t> request = {2, 0};
    const std::vector<uint8_t> der = RsaPublicKeyDer(key.get());
    request.insert(request.end(), der.begin(), der.end());

    const StreamAnswer a = w.Request(0x1011, 0, request);
    const size_t k = static_cast<size_t>((bits + 7) / 8);
    ASSERT_EQ(a.header.code, 0x9011);
    ASSERT_EQ(a.header.status, 0u);
    ASSERT_EQ(a.header.length, k + 2);
    EXPECT_EQ(ReadU16(a.payload.data()), 2);

    const std::vector<uint8_t> block = RawPrivate(key.get(), std::vector<uint8_t>(a.payload.begin() + 2, a.payload.end()));
    ASSERT_EQ(block.size(), k);
    EXPECT_EQ(block[0], 0x00);
    EXPECT_EQ(block[1], 0x02);
    for (size_t i = 2; i < k - 25; ++i) ASSERT_NE(block[i], 0) << "padding byte " << i;
    EXPECT_EQ(block[k - 25], 0x00);
    const uint8_t* sessionKey = block.data() + k - 24;
    const std::vector<uint8_t> check = TripleDes(sessionKey, {0, 0, 0, 0}, true);
    ASSERT_EQ(check.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(block.end() - 8, block.end()), check);

    // The connection is keyed with that key: a status query comes back encrypted under it.
    ASSERT_EQ(w.connection.m_nSecureState, kSecureKeyed);
    uint8_t* query = w.arena.Allocate(10);
    MsgHeader {0x4103, 0, 0}.Encode(query);
    const StreamReply reply = w.handler.HandleRequest(w.connection, query, w.arena);
    ASSERT_EQ(reply.size, 8u + 32);
    const std::vector<uint8_t> plain = TripleDes(sessionKey, std::vector<uint8_t>(reply.data + 8, reply.data + 40), false);
    EXPECT_EQ(plain, std::vector<uint8_t>(w.bleStatus.begin(), w.bleStatus.end()));
}

INSTANTIATE_TEST_SUITE_P(Bits, KeyExchangeOracleTest, ::testing::Values(512, 777, 1024, 2048, 3072, 4096));

}  // namespace
}  // namespace corvane::test
