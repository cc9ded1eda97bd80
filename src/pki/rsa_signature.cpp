#include "pki/rsa_signature.h"

#include <cstring>

#include "crypto/crypto_status.h"
#include "crypto/rsa.h"
#include "wire/result_codes.h"

namespace corvane {

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

}  // namespace corvane
