#include "token/private_key_blob.h"

#include <cstring>

#include "crypto/der_reader.h"
#include "platform/key_container.h"
#include "platform/types.h"

namespace corvane {

namespace {

constexpr uint8_t kPrivateKeyBlob = 7;   // PRIVATEKEYBLOB
constexpr uint8_t kBlobVersion = 2;      // CUR_BLOB_VERSION
constexpr uint32_t kCalgRsaKeyx = 0x0000A400;
constexpr uint32_t kRsa2Magic = 0x32415352;  // "RSA2"

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutReversed(uint8_t* out, const uint8_t* value, size_t length) {
    for (size_t i = 0; i < length; ++i) out[i] = value[length - 1 - i];
}

}  // namespace

uint32_t RsaDerToPrivateKeyBlob(uint8_t* blob, uint32_t* blobLength, const uint8_t* der, uint32_t derLength) {
    if (!blobLength || !der) return WinError::InvalidParameter;
    CDerReader reader(der, der + derLength);
    // SEQUENCE ending exactly at the end of the input.
    const uint8_t* sequence = nullptr;
    size_t sequenceLength = 0;
    if (derLength < 1 || der[0] != 0x30 || !reader.Element(0x30, sequence, sequenceLength) ||
        reader.Position() != reader.End()) {
        return kNteBadData;
    }
    CDerReader items(sequence, sequence + sequenceLength);
    const uint8_t* value = nullptr;
    size_t length = 0;
    if (!items.Element(-1, value, length)) return kNteBadData;  // the version, tag not examined

    const uint8_t* modulus = nullptr;
    size_t l = 0;
    if (!items.StrippedInteger(modulus, l) || l == 0 || l % 2 != 0) return kNteBadData;
    const size_t h = l / 2;
    const size_t needed = PrivateKeyBlobSize(l);
    if (needed > 0xFFFFFFFFu) return kNteBadData;
    if (!blob) {
        *blobLength = static_cast<uint32_t>(needed);
        return 0;
    }
    if (*blobLength < needed) {
        *blobLength = static_cast<uint32_t>(needed);
        return WinError::MoreData;
    }
    *blobLength = static_cast<uint32_t>(needed);
    std::memset(blob, 0, needed);
    blob[0] = kPrivateKeyBlob;
    blob[1] = kBlobVersion;
    PutLe32(blob + 4, kCalgRsaKeyx);
    PutLe32(blob + 8, kRsa2Magic);
    PutLe32(blob + 12, static_cast<uint32_t>(8 * l));
    PutReversed(blob + 20, modulus, l);

    if (!items.StrippedInteger(value, length) || length > 4) return kNteBadData;
    uint32_t exponent = 0;
    for (size_t i = 0; i < length; ++i) exponent = (exponent << 8) | value[i];
    PutLe32(blob + 16, exponent);

    // d, p, q, dP, dQ, qInv in the order of RSAPrivateKey, each at its place in the blob.
    struct Field {
        size_t offset;
        size_t size;
    };
    const Field fields[] = {
        {20 + l + 5 * h, l},  // privateExponent
        {20 + l, h},          // prime1
        {20 + l + h, h},      // prime2
        {20 + l + 2 * h, h},  // exponent1
        {20 + l + 3 * h, h},  // exponent2
        {20 + l + 4 * h, h},  // coefficient
    };
    for (const Field& field : fields) {
        if (!items.StrippedInteger(value, length) || length != field.size) return kNteBadData;
        PutReversed(blob + field.offset, value, length);
    }
    return 0;
}

}  // namespace corvane
