// The pieces both phone token caches share: a checked view of one token message (header and
// payload), the local reply built in the request's arena, the sub-opcodes and statuses the caches
// look at, and the decoders of a public-key reply and of an imported RSAPrivateKey.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "token/p11_error.h"
#include "wire/msg_header.h"
#include "wire/reply_arena.h"

namespace corvane {

namespace PhoneTokenOp {
constexpr uint16_t CreateContainer = 0x2001;
constexpr uint16_t ContainerByIndex = 0x2002;
constexpr uint16_t ContainerByName = 0x2003;
constexpr uint16_t DeleteContainer = 0x2004;
constexpr uint16_t GenerateKeyPair = 0x2021;
constexpr uint16_t GetPublicKey = 0x2022;
constexpr uint16_t ImportKeyPair = 0x2023;
constexpr uint16_t WriteCertificate = 0x2031;
constexpr uint16_t ReadCertificate = 0x2032;
constexpr uint16_t TokenInfo = 0x2041;
constexpr uint16_t InitToken = 0x2101;
}  // namespace PhoneTokenOp

namespace PhoneTokenStatus {
constexpr uint32_t Forward = 0xFFFFFFFF;  // AnswerFromCache: the request goes to the phone
constexpr uint32_t NteBadFlags = 0x80090009;
}  // namespace PhoneTokenStatus

constexpr uint32_t kKeySpecExchange = 1;
constexpr uint32_t kKeySpecSignature = 2;
constexpr size_t kTokenInfoSize = 16;
constexpr size_t kMaxContainerName = 255;

// One message as it travels to or from the phone: a header whose length matches the bytes.
struct TokenMessage {
    MsgHeader header;
    const uint8_t* payload = nullptr;
    size_t size = 0;  // payload bytes

    static std::optional<TokenMessage> View(const uint8_t* message, size_t messageSize);
    uint32_t U32At(size_t offset) const;  // caller has checked offset + 4 <= size
};

// NTE_NO_KEY, NTE_NOT_FOUND and NTE_BAD_KEYSET: the phone has no such object.
bool IsKnownAbsent(uint32_t status);
// A key-changing request the phone refused without touching anything.
inline bool IsUnchangedRefusal(uint32_t status) {
    return status == PhoneTokenStatus::NteBadFlags || status == TokenError::NteNotSupported;
}
inline bool IsValidKeySpec(uint32_t spec) { return spec == kKeySpecExchange || spec == kKeySpecSignature; }

// A name payload: the name and its NUL filling the payload exactly, at most 255 bytes.
std::optional<std::string_view> NameOfPayload(const uint8_t* payload, size_t size);
bool NamesEqual(std::string_view a, std::string_view b);  // ASCII, ignoring case

// The next value of a key or certificate version: 1..255, 255 wraps to 1, 0 becomes 1.
inline uint8_t NextVersion(uint8_t version) { return version == 255 ? 1 : static_cast<uint8_t>(version + 1); }

// A local reply: request code OR 0x8000, the given status and payload, from the arena. Returns 0
// or NTE_NO_MEMORY when the arena refuses.
uint32_t BuildLocalReply(ReplyArena& arena, uint16_t requestCode, uint32_t status, const uint8_t* payload,
                         size_t size, uint8_t** reply, size_t* replySize);

struct PublicKeyParts {
    uint32_t keySpec = 0;
    uint32_t bits = 0;
    uint32_t exponent = 0;
    std::vector<uint8_t> modulus;
};
// The public-key reply: key spec, bits, exponent, then (bits + 7) / 8 modulus bytes filling the
// payload exactly.
std::optional<PublicKeyParts> ParsePublicKeyReply(const uint8_t* payload, size_t size);
// The public part of a DER RSAPrivateKey; nothing when it cannot be read or its exponent needs
// more than 4 bytes.
std::optional<PublicKeyParts> ReadPrivateKeyPublicParts(const uint8_t* der, size_t size);
// Writes a public-key reply payload (12 + modulus bytes).
std::vector<uint8_t> EncodePublicKey(uint32_t keySpec, uint32_t bits, uint32_t exponent,
                                     const std::vector<uint8_t>& modulus);

}  // namespace corvane
