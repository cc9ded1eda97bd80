#include "pki/rsa_signature.h"

#include <cstring>

#include "crypto/crypto_status.h"
#include "crypto/rsa.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {

struct SignatureAlgorithm {
    std::string_view oid;
    std::vector<uint8_t> digestInfo;  // DER prefix before the digest
    size_t digestSize;
};

const SignatureAlgorithm kAlgorithms[] = {
    {"1.2.840.113549.1.1.5", {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14}, 20},
    {"1.2.840.113549.1.1.14",
     {0x30, 0x2d, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1c}, 28},
    {"1.2.840.113549.1.1.11",
     {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20}, 32},
    {"1.2.840.113549.1.1.12",
     {0x30, 0x41, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30}, 48},
    {"1.2.840.113549.1.1.13",
     {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40}, 64},
};

void Digest(size_t size, const uint8_t* data, size_t length, uint8_t* out) {
    if (size == 20) {
        Sha1State s;
        Sha1Init(s);
        Sha1Update(s, data, length);
        Sha1Final(s, out);
    } else if (size == 28 || size == 32) {
        Sha256State s;
        size == 28 ? Sha224Init(s) : Sha256Init(s);
        Sha256Update(s, data, length);
        Sha256Final(s, out, size);
    } else {
        Sha512State s;
        size == 48 ? Sha384Init(s) : Sha512Init(s);
        Sha512Update(s, data, length);
        Sha512Final(s, out, size);
    }
}

}  // namespace

uint32_t RsaPublicBlock(const std::vector<uint8_t>& publicKeyDer, const uint8_t* signature, size_t length,
                        std::vector<uint8_t>& block) {
    block.clear();
    if (publicKeyDer.empty() || length == 0 || length > 1024) return Result::InternalError;
    RsaHandle rsa = nullptr;
    uint32_t bits = 0;
    if (RsaImport(&rsa, &bits, 1, publicKeyDer.data(), static_cast<uint32_t>(publicKeyDer.size())) != 0) {
        return Result::InternalError;
    }
    uint32_t result = Result::InternalError;
    if (bits == 8 * length) {
        block.resize(length);
        const int32_t rc = RsaPublic(rsa, signature, static_cast<uint32_t>(length), block.data());
        if (rc == CryptoStatus::Ok) {
            result = 0;
        } else {
            if (rc == CryptoStatus::RsaInputTooLarge) result = Result::DeviceSignatureError;
            block.clear();
        }
    }
    RsaDestroy(rsa);
    return result;
}

bool IsPkcs1Type1Block(const std::vector<uint8_t>& block, const uint8_t* data, size_t length) {
    if (block.size() < 11 + length || block[0] != 0x00 || block[1] != 0x01) return false;
    size_t i = 2;
    while (i < block.size() && block[i] == 0xFF) ++i;
    if (i - 2 < 8 || i >= block.size() || block[i] != 0x00) return false;
    ++i;
    return block.size() - i == length && std::memcmp(block.data() + i, data, length) == 0;
}

bool VerifyRsaSignature(std::string_view algorithmOid, const uint8_t* signedPart, size_t signedLength,
                        const std::vector<uint8_t>& signature, const std::vector<uint8_t>& publicKeyDer) {
    for (const SignatureAlgorithm& algorithm : kAlgorithms) {
        if (algorithm.oid != algorithmOid) continue;
        std::vector<uint8_t> block;
        if (RsaPublicBlock(publicKeyDer, signature.data(), signature.size(), block) != 0) return false;
        std::vector<uint8_t> expected = algorithm.digestInfo;
        expected.resize(expected.size() + algorithm.digestSize);
        Digest(algorithm.digestSize, signedPart, signedLength, expected.data() + algorithm.digestInfo.size());
        return IsPkcs1Type1Block(block, expected.data(), expected.size());
    }
    return false;
}

}  // namespace corvane
