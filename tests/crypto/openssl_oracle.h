// OpenSSL as a second implementation to compare the crypto library with (tests and fuzz targets
// only; the service never links it).
#pragma once

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/crypto_status.h"

namespace corvane::test {

inline void LoadOpenSslProviders() {
    // DES, RC2 and RC4 live in the legacy provider. The providers stay loaded (and reachable, so
    // the leak checker does not count them) until the process ends.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    (void)legacy;
    (void)standard;
}

// The key bytes the library actually uses for an algorithm and key length.
inline size_t UsedKeyLength(uint32_t algorithm, size_t keyLength) {
    switch (algorithm) {
        case CipherAlg::Des: return keyLength >= 24 ? 24 : keyLength >= 16 ? 16 : 8;
        case CipherAlg::Rc2: return keyLength > 128 ? 128 : keyLength;
        default: return keyLength;
    }
}

inline std::string OpenSslCipherName(uint32_t algorithm, size_t keyLength, bool cbc) {
    const std::string mode = cbc ? "-CBC" : "-ECB";
    switch (algorithm) {
        case CipherAlg::Des:
            if (keyLength >= 24) return "DES-EDE3" + mode;
            if (keyLength >= 16) return "DES-EDE" + mode;
            return "DES" + mode;
        case CipherAlg::Aes: return "AES-" + std::to_string(keyLength * 8) + mode;
        case CipherAlg::Rc2: return "RC2" + mode;
        case CipherAlg::Rc4: return "RC4";
    }
    return "";
}

// Encrypts or decrypts a whole message with a zero IV; nullopt when OpenSSL refuses it (bad
// padding, not whole blocks).
inline std::optional<std::vector<uint8_t>> OpenSslCrypt(uint32_t algorithm, const std::vector<uint8_t>& key,
                                                        bool cbc, bool padding, bool encrypt,
                                                        const std::vector<uint8_t>& data) {
    LoadOpenSslProviders();
    const size_t used = UsedKeyLength(algorithm, key.size());
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, OpenSslCipherName(algorithm, used, cbc).c_str(), nullptr);
    if (!cipher) return std::nullopt;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::optional<std::vector<uint8_t>> result;
    const unsigned char iv[16] = {};
    bool ok = EVP_CipherInit_ex2(ctx, cipher, nullptr, nullptr, encrypt ? 1 : 0, nullptr) == 1;
    if (ok && (algorithm == CipherAlg::Rc2 || algorithm == CipherAlg::Rc4)) {
        ok = EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(used)) == 1;
    }
    if (ok && algorithm == CipherAlg::Rc2) {
        ok = EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_RC2_KEY_BITS, static_cast<int>(8 * used), nullptr) == 1;
    }
    if (ok) ok = EVP_CipherInit_ex2(ctx, nullptr, key.data(), cbc ? iv : nullptr, encrypt ? 1 : 0, nullptr) == 1;
    if (ok) ok = EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0) == 1;
    if (ok) {
        std::vector<uint8_t> out(data.size() + 32);
        int n1 = 0, n2 = 0;
        ok = EVP_CipherUpdate(ctx, out.data(), &n1, data.data(), static_cast<int>(data.size())) == 1 &&
             EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
        if (ok) {
            out.resize(static_cast<size_t>(n1 + n2));
            result = std::move(out);
        }
    }
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    return result;
}

inline const char* OpenSslDigestName(uint32_t algorithm) {
    switch (algorithm) {
        case DigestAlg::Sha1: return "SHA1";
        case DigestAlg::Md5: return "MD5";
        case DigestAlg::Sha224: return "SHA224";
        case DigestAlg::Sha256: return "SHA256";
        case DigestAlg::Sha384: return "SHA384";
        case DigestAlg::Sha512: return "SHA512";
    }
    return nullptr;
}

inline std::vector<uint8_t> OpenSslDigest(uint32_t algorithm, const std::vector<uint8_t>& data) {
    LoadOpenSslProviders();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_MD* md_alg = EVP_MD_fetch(nullptr, OpenSslDigestName(algorithm), nullptr);
    EVP_Digest(data.data(), data.size(), md, &size, md_alg, nullptr);
    EVP_MD_free(md_alg);
    return std::vector<uint8_t>(md, md + size);
}

// RSA keys through OpenSSL. Keys travel as PKCS#1 DER, the form the engine imports.
struct EvpKeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpKeyDeleter>;

inline EvpKey OpenSslGenerateRsa(unsigned bits) { return EvpKey(EVP_RSA_gen(bits)); }

inline std::vector<uint8_t> OpenSslPrivateDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int n = i2d_PrivateKey(key, &der);
    std::vector<uint8_t> out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

inline std::vector<uint8_t> OpenSslPublicDer(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int n = i2d_PublicKey(key, &der);
    std::vector<uint8_t> out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

// Parses PKCS#1 RSAPrivateKey DER; null when OpenSSL refuses it.
inline EvpKey OpenSslParsePrivateDer(const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    return EvpKey(d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size())));
}

// The full consistency check of a private key (primes, exponents, CRT numbers).
inline bool OpenSslCheckPrivateKey(EVP_PKEY* key) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    const bool ok = ctx && EVP_PKEY_check(ctx) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

// A number of the key as big-endian bytes without leading zeros: "n", "e", "d", "rsa-factor1",
// "rsa-factor2", "rsa-exponent1", "rsa-exponent2", "rsa-coefficient1".
inline std::vector<uint8_t> OpenSslKeyNumber(EVP_PKEY* key, const char* name) {
    BIGNUM* bn = nullptr;
    std::vector<uint8_t> out;
    if (EVP_PKEY_get_bn_param(key, name, &bn) == 1) {
        out.resize(BN_num_bytes(bn));
        BN_bn2bin(bn, out.data());
    }
    BN_clear_free(bn);
    return out;
}

// Raw RSA (no padding) with the public or the private key; the input has the modulus length.
inline std::optional<std::vector<uint8_t>> OpenSslRawRsa(EVP_PKEY* key, bool usePrivate, const std::vector<uint8_t>& in) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    std::optional<std::vector<uint8_t>> result;
    size_t outLength = 0;
    bool ok = ctx && (usePrivate ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx)) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1;
    std::vector<uint8_t> out(in.size() + 16);
    outLength = out.size();
    if (ok) {
        ok = (usePrivate ? EVP_PKEY_decrypt(ctx, out.data(), &outLength, in.data(), in.size())
                         : EVP_PKEY_encrypt(ctx, out.data(), &outLength, in.data(), in.size())) == 1;
    }
    if (ok) {
        out.resize(outLength);
        result = std::move(out);
    }
    EVP_PKEY_CTX_free(ctx);
    return result;
}

}  // namespace corvane::test
