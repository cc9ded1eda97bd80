// The client side of the token requests, as the CSP sends them on a stream channel connection:
// 0x7001 slot list, 0x7002 slot state and 0x7011 token operations with their sub-operations.
// Each call sends one request on the connection it is given (plain or keyed), checks the reply's
// code and layout and decodes it. Used by corvane-ctl, the tests and the benchmark.
//
// Every call returns 0 on success; otherwise a Windows Sockets error from the connection, the
// service's status from an error reply, or NTE_BAD_DATA (0x80090005) when the reply's code or
// layout is not the one the request asks for (nothing is decoded then).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel/stream_client.h"
#include "wire/result_codes.h"

namespace corvane {

// One slot as the service lists it (a 92-byte slot entry).
struct TokenSlotEntry {
    static constexpr size_t kSize = 92;
    uint32_t slotId = 0;
    bool tokenPresent = false;
    std::string description;
    std::array<uint8_t, 16> serial {};  // all zero when unknown
};

// One key container of a token: its handle and name.
struct TokenContainerEntry {
    uint32_t handle = 0;
    std::string name;
};

// A container's public key: the key spec asked for, the modulus size in bits, the public
// exponent and the modulus, big-endian.
struct TokenPublicKey {
    uint32_t keySpec = 0;
    uint32_t bits = 0;
    uint32_t exponent = 0;
    std::vector<uint8_t> modulus;
};

// Login state and login answers: whether the user is logged in (or the PIN was taken) and the
// token's PIN information.
struct TokenLoginState {
    bool loggedIn = false;
    uint16_t pinInfo = 0;
};

class CStreamTokenClient {
public:
    static constexpr uint32_t kBadReply = Result::NteBadData;
    static constexpr uint32_t kNoMoreItems = 259;

    explicit CStreamTokenClient(CStreamClient& client) : m_client(client) {}

    uint32_t SlotList(std::vector<TokenSlotEntry>& slots);
    uint32_t SlotState(uint32_t slotId, TokenSlotEntry& slot);

    // One token operation: the sub-opcode's data in, the reply payload out (the reply's code
    // must be the sub-opcode with bit 15 set).
    uint32_t Operation(uint32_t slotId, uint16_t subOpcode, const std::vector<uint8_t>& data, std::vector<uint8_t>& reply);

    uint32_t CreateContainer(uint32_t slotId, std::string_view name, uint32_t& handle);
    uint32_t ContainerAt(uint32_t slotId, uint32_t index, TokenContainerEntry& container);
    // An empty name asks for the token's default container.
    uint32_t FindContainer(uint32_t slotId, std::string_view name, TokenContainerEntry& container);
    uint32_t DeleteContainer(uint32_t slotId, uint32_t handle);
    // Every container of the token, by index until the service says there are no more.
    uint32_t Containers(uint32_t slotId, std::vector<TokenContainerEntry>& containers);

    uint32_t LoginState(uint32_t slotId, TokenLoginState& state);
    // A wrong or blocked PIN is a successful call with `loggedIn` false.
    uint32_t Login(uint32_t slotId, std::string_view pin, TokenLoginState& state);
    uint32_t ChangePin(uint32_t slotId, std::string_view oldPin, std::string_view newPin);
    uint32_t UnblockPin(uint32_t slotId, std::string_view soPin, std::string_view newUserPin);
    uint32_t InitToken(uint32_t slotId, std::string_view soPin, std::string_view userPin);
    uint32_t InitTokenWithoutPins(uint32_t slotId);

    uint32_t GenerateKeyPair(uint32_t slotId, uint32_t container, uint32_t keySpec, uint32_t bits, uint32_t exponent,
                             TokenPublicKey& key);
    uint32_t GetPublicKey(uint32_t slotId, uint32_t container, uint32_t keySpec, TokenPublicKey& key);
    uint32_t ImportKeyPair(uint32_t slotId, uint32_t container, uint32_t keySpec, const std::vector<uint8_t>& rsaPrivateKeyDer);
    // The raw RSA operation with the container's private or public key on a block of modulus size.
    uint32_t RsaRaw(uint32_t slotId, uint32_t container, uint32_t keySpec, bool usePrivate,
                    const std::vector<uint8_t>& block, std::vector<uint8_t>& output);
    uint32_t WriteCertificate(uint32_t slotId, uint32_t container, uint32_t keySpec, const std::vector<uint8_t>& der);
    uint32_t ReadCertificate(uint32_t slotId, uint32_t container, uint32_t keySpec, std::vector<uint8_t>& der);

    // The code of the last reply received (0 before any).
    uint16_t LastReplyCode() const { return m_lastCode; }

private:
    uint32_t Exchange(uint16_t code, const std::vector<uint8_t>& payload, uint16_t expectedCode,
                      std::vector<uint8_t>& reply);
    uint32_t ContainerReply(uint32_t status, const std::vector<uint8_t>& reply, TokenContainerEntry& container);
    uint32_t PublicKeyReply(uint32_t status, const std::vector<uint8_t>& reply, TokenPublicKey& key);
    uint32_t LoginReply(uint32_t status, const std::vector<uint8_t>& reply, TokenLoginState& state);
    uint32_t EmptyReply(uint32_t status, const std::vector<uint8_t>& reply, size_t size);

    CStreamClient& m_client;
    uint16_t m_lastCode = 0;
};

// Decodes one 92-byte slot entry; false when `size` is short.
bool DecodeTokenSlotEntry(const uint8_t* data, size_t size, TokenSlotEntry& entry);

}  // namespace corvane
