#include "crypto/rsa_der.h"

#include "crypto/crypto_status.h"
#include "crypto/der_reader.h"

namespace corvane {

namespace {

bool ReadInteger(CDerReader& reader, CBigNumber& out, bool& memoryFailed) {
    const uint8_t* value = nullptr;
    size_t length = 0;
    if (!reader.Integer(value, length)) return false;
    if (!out.SetBytes(value, length)) {
        memoryFailed = true;
        return false;
    }
    return true;
}

size_t DerLengthSize(size_t length) {
    size_t size = 1;
    if (length >= 0x80) {
        for (size_t v = length; v; v >>= 8) ++size;
    }
    return size;
}

uint8_t* WriteDerLength(uint8_t* p, size_t length) {
    if (length < 0x80) {
        *p++ = static_cast<uint8_t>(length);
        return p;
    }
    const size_t k = DerLengthSize(length) - 1;
    *p++ = static_cast<uint8_t>(0x80 + k);
    for (size_t i = 0; i < k; ++i) *p++ = static_cast<uint8_t>(length >> (8 * (k - 1 - i)));
    return p;
}

}  // namespace

int32_t RsaPublicDerSizes(const uint8_t* der, size_t length, size_t* modulusBytes, size_t* exponentBytes) {
    *modulusBytes = 0;
    *exponentBytes = 0;
    if (der == nullptr || length < 1 || der[0] != 0x30) return CryptoStatus::MalformedDer;
    CDerReader outer(der, der + length);
    const uint8_t* sequence = nullptr;
    size_t sequenceLength = 0;
    if (!outer.Element(0x30, sequence, sequenceLength) || !outer.AtEnd()) return CryptoStatus::MalformedDer;
    CDerReader items(sequence, sequence + sequenceLength);
    const uint8_t* value = nullptr;
    if (!items.StrippedInteger(value, *modulusBytes) || !items.StrippedInteger(value, *exponentBytes) ||
        !items.AtEnd()) {
        *modulusBytes = *exponentBytes = 0;
        return CryptoStatus::MalformedDer;
    }
    return CryptoStatus::Ok;
}

int32_t ImportRsaDer(CRSA& key, uint32_t format, const uint8_t* der, size_t length) {
    if (format != RsaFormat::PublicKey && format != RsaFormat::PrivateKey) return CryptoStatus::UnknownKeyFormat;
    if (der == nullptr || length < 1 || der[0] != 0x30) return CryptoStatus::MalformedDer;
    // SEQUENCE whose length ends exactly at the end of the input.
    CDerReader outer(der, der + length);
    const uint8_t* sequence = nullptr;
    size_t sequenceLength = 0;
    if (!outer.Element(0x30, sequence, sequenceLength) || !outer.AtEnd()) return CryptoStatus::MalformedDer;
    CDerReader items(sequence, sequence + sequenceLength);
    bool memoryFailed = false;
    if (format == RsaFormat::PublicKey) {
        if (!ReadInteger(items, key.m_bnN, memoryFailed) || !ReadInteger(items, key.m_bnE, memoryFailed) ||
            !items.AtEnd()) {
            return memoryFailed ? CryptoStatus::NoMemory : CryptoStatus::MalformedDer;
        }
        key.m_bHasPublic = 1;
    } else {
        // The version is skipped by its length; its tag and value are not examined.
        const uint8_t* version = nullptr;
        size_t versionLength = 0;
        if (!items.Element(-1, version, versionLength)) return CryptoStatus::MalformedDer;
        CBigNumber* numbers[] = {&key.m_bnN, &key.m_bnE,  &key.m_bnD,  &key.m_bnP,
                                 &key.m_bnQ, &key.m_bnDP, &key.m_bnDQ, &key.m_bnQInv};
        for (CBigNumber* number : numbers) {
            if (!ReadInteger(items, *number, memoryFailed)) {
                return memoryFailed ? CryptoStatus::NoMemory : CryptoStatus::MalformedDer;
            }
        }
        if (!items.AtEnd()) return CryptoStatus::MalformedDer;
        key.m_bHasCrt = key.m_bHasPrivate = key.m_bHasPublic = 1;
    }
    return key.Prepare() ? CryptoStatus::Ok : CryptoStatus::NoMemory;
}

int32_t ExportRsa(const CRSA& key, uint32_t what, uint8_t* out, uint32_t* outLength) {
    if (!outLength) return CryptoStatus::NullPointer;
    const CBigNumber* component = nullptr;
    switch (what) {
        case RsaFormat::PublicKey:
        case RsaFormat::PublicExponent:
            if (!key.m_bHasPublic) return CryptoStatus::KeyPartMissing;
            component = what == RsaFormat::PublicExponent ? &key.m_bnE : nullptr;
            break;
        case RsaFormat::PrivateKey:
            if (!key.m_bHasCrt) return CryptoStatus::KeyPartMissing;
            break;
        case RsaFormat::Modulus:
            if (!key.m_bHasPublic && !key.m_bHasPrivate) return CryptoStatus::KeyPartMissing;
            component = &key.m_bnN;
            break;
        case RsaFormat::Prime1:
        case RsaFormat::Prime2:
            if (!key.m_bHasCrt) return CryptoStatus::KeyPartMissing;
            component = what == RsaFormat::Prime1 ? &key.m_bnP : &key.m_bnQ;
            break;
        default:
            return CryptoStatus::UnknownKeyFormat;
    }

    if (component) {
        // A component: big-endian, no leading zero byte. A short buffer leaves outLength as it was.
        const uint32_t size = component->ByteLength();
        if (!out) {
            *outLength = size;
            return CryptoStatus::Ok;
        }
        if (*outLength < size) return CryptoStatus::BufferTooSmall;
        component->WriteBytes(out, size);
        *outLength = size;
        return CryptoStatus::Ok;
    }

    const CBigNumber* publicNumbers[] = {&key.m_bnN, &key.m_bnE};
    const CBigNumber* privateNumbers[] = {&key.m_bnN, &key.m_bnE,  &key.m_bnD,  &key.m_bnP,
                                          &key.m_bnQ, &key.m_bnDP, &key.m_bnDQ, &key.m_bnQInv};
    const bool isPrivate = what == RsaFormat::PrivateKey;
    const CBigNumber* const* numbers = isPrivate ? privateNumbers : publicNumbers;
    const size_t count = isPrivate ? 8 : 2;
    size_t content = isPrivate ? 3 : 0;  // 02 01 00, the version
    for (size_t i = 0; i < count; ++i) {
        if (numbers[i]->IsZero()) return CryptoStatus::KeyPartMissing;
        content += numbers[i]->EncodeDerInteger(nullptr);
    }
    const size_t total = 1 + DerLengthSize(content) + content;
    if (total > 0xFFFFFFFFu) return CryptoStatus::InvalidArguments;
    if (!out) {
        *outLength = static_cast<uint32_t>(total);
        return CryptoStatus::Ok;
    }
    if (*outLength < total) {
        *outLength = static_cast<uint32_t>(total);
        return CryptoStatus::BufferTooSmall;
    }
    uint8_t* p = out;
    *p++ = 0x30;
    p = WriteDerLength(p, content);
    if (isPrivate) {
        *p++ = 0x02;
        *p++ = 0x01;
        *p++ = 0x00;
    }
    for (size_t i = 0; i < count; ++i) p += numbers[i]->EncodeDerInteger(p);
    *outLength = static_cast<uint32_t>(total);
    return CryptoStatus::Ok;
}

}  // namespace corvane
