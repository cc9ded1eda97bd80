#include "device/phone_token_message.h"

#include <cstring>

#include "crypto/rsa.h"
#include "wire/byte_order.h"

namespace corvane {

std::optional<TokenMessage> TokenMessage::View(const uint8_t* message, size_t messageSize) {
    auto header = MsgHeader::Decode(message, messageSize);
    if (!header || !header->MatchesSize(messageSize)) return std::nullopt;
    return TokenMessage {*header, message + MsgHeader::kSize, header->length};
}

uint32_t TokenMessage::U32At(size_t offset) const { return ReadU32(payload + offset); }

bool IsKnownAbsent(uint32_t status) {
    return status == TokenError::NteNoKey || status == TokenError::NteNotFound || status == TokenError::NteBadKeyset;
}

std::optional<std::string_view> NameOfPayload(const uint8_t* payload, size_t size) {
    if (size == 0 || size > kMaxContainerName + 1) return std::nullopt;
    const char* text = reinterpret_cast<const char*>(payload);
    size_t length = strnlen(text, size);
    if (length + 1 != size) return std::nullopt;
    return std::string_view(text, length);
}

bool NamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

uint32_t BuildLocalReply(ReplyArena& arena, uint16_t requestCode, uint32_t status, const uint8_t* payload,
                         size_t size, uint8_t** reply, size_t* replySize) {
    if (size > 0xFFFF) return TokenError::NteFail;
    uint8_t* block = arena.Allocate(MsgHeader::kSize + size);
    if (block == nullptr) return TokenError::NteNoMemory;
    MsgHeader::Reply(requestCode, static_cast<uint16_t>(size), status).Encode(block);
    if (size > 0) std::memcpy(block + MsgHeader::kSize, payload, size);
    *reply = block;
    *replySize = MsgHeader::kSize + size;
    return 0;
}

std::optional<PublicKeyParts> ParsePublicKeyReply(const uint8_t* payload, size_t size) {
    if (size < 12) return std::nullopt;
    PublicKeyParts parts;
    parts.keySpec = ReadU32(payload);
    parts.bits = ReadU32(payload + 4);
    parts.exponent = ReadU32(payload + 8);
    uint64_t modulusBytes = (static_cast<uint64_t>(parts.bits) + 7) / 8;
    if (modulusBytes + 12 != size) return std::nullopt;
    parts.modulus.assign(payload + 12, payload + size);
    return parts;
}

std::optional<PublicKeyParts> ReadPrivateKeyPublicParts(const uint8_t* der, size_t size) {
    if (der == nullptr || size == 0 || size > 0xFFFFFFFFu) return std::nullopt;
    RsaHandle handle = nullptr;
    uint32_t bits = 0;
    if (RsaImport(&handle, &bits, 2, der, static_cast<uint32_t>(size)) != 0 || handle == nullptr) return std::nullopt;
    std::optional<PublicKeyParts> result;
    uint8_t exponent[8] = {};
    uint32_t exponentLength = sizeof exponent;
    uint32_t modulusLength = 0;
    if (RsaExport(handle, 130, exponent, &exponentLength) == 0 && exponentLength <= 4 &&
        RsaExport(handle, 129, nullptr, &modulusLength) == 0) {
        std::vector<uint8_t> modulus(modulusLength);
        if (RsaExport(handle, 129, modulus.data(), &modulusLength) == 0) {
            modulus.resize(modulusLength);
            PublicKeyParts parts;
            parts.bits = bits;
            for (uint32_t i = 0; i < exponentLength; ++i) parts.exponent = (parts.exponent << 8) | exponent[i];
            // The cached modulus always has (bits + 7) / 8 bytes, as a public-key reply carries it.
            size_t wanted = (static_cast<size_t>(bits) + 7) / 8;
            if (modulus.size() <= wanted) {
                modulus.insert(modulus.begin(), wanted - modulus.size(), 0);
                parts.modulus = std::move(modulus);
                result = std::move(parts);
            }
        }
    }
    RsaDestroy(handle);
    return result;
}

std::vector<uint8_t> EncodePublicKey(uint32_t keySpec, uint32_t bits, uint32_t exponent,
                                     const std::vector<uint8_t>& modulus) {
    std::vector<uint8_t> out(12 + modulus.size());
    WriteU32(out.data(), keySpec);
    WriteU32(out.data() + 4, bits);
    WriteU32(out.data() + 8, exponent);
    if (!modulus.empty()) std::memcpy(out.data() + 12, modulus.data(), modulus.size());
    return out;
}

}  // namespace corvane
