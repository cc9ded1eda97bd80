#include "channel/stream_token_client.h"

#include <algorithm>
#include <cstring>

#include "crypto/secure_zero.h"
#include "token/token_payload.h"
#include "token/token_requests.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {
constexpr uint16_t kSlotListReply = 0xF001;
constexpr uint16_t kSlotStateReply = 0xF002;
constexpr size_t kMaxOperationData = MsgHeader::kMaxPayload - TokenRequest::kOperationHeaderSize;

std::vector<uint8_t> U32Data(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out(values.size() * 4);
    size_t at = 0;
    for (uint32_t v : values) {
        WriteU32(out.data() + at, v);
        at += 4;
    }
    return out;
}

std::vector<uint8_t> Terminated(std::string_view text) {
    std::vector<uint8_t> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> Pair(std::string_view first, std::string_view second) {
    std::vector<uint8_t> out = Terminated(first);
    const std::vector<uint8_t> rest = Terminated(second);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

// Clears a buffer that held PINs once it has been sent.
struct WipeOnExit {
    std::vector<uint8_t>& bytes;
    ~WipeOnExit() { SecureZero(bytes.data(), bytes.size()); }
};
}  // namespace

bool DecodeTokenSlotEntry(const uint8_t* data, size_t size, TokenSlotEntry& entry) {
    if (size < TokenSlotEntry::kSize) return false;
    entry.slotId = ReadU32(data);
    entry.tokenPresent = ReadU32(data + 4) != 0;
    const char* text = reinterpret_cast<const char*>(data + 8);
    entry.description.assign(text, strnlen(text, 68));
    std::copy(data + 76, data + 92, entry.serial.begin());
    return true;
}

uint32_t CStreamTokenClient::Exchange(uint16_t code, const std::vector<uint8_t>& payload, uint16_t expectedCode,
                                      std::vector<uint8_t>& reply) {
    reply.clear();
    StreamMessage message;
    if (int rc = m_client.Request(code, 0, payload.data(), payload.size(), message)) return static_cast<uint32_t>(rc);
    m_lastCode = message.header.code;
    if (message.header.code != expectedCode) return kBadReply;
    if (message.header.status != 0) return message.header.status;
    reply = std::move(message.payload);
    return 0;
}

uint32_t CStreamTokenClient::SlotList(std::vector<TokenSlotEntry>& slots) {
    slots.clear();
    std::vector<uint8_t> reply;
    if (uint32_t rc = Exchange(TokenRequest::SlotList, {}, kSlotListReply, reply)) return rc;
    if (reply.size() < 2) return kBadReply;
    const size_t count = ReadU16(reply.data());
    if (reply.size() != 2 + count * TokenSlotEntry::kSize) return kBadReply;
    slots.resize(count);
    for (size_t i = 0; i < count; ++i) {
        DecodeTokenSlotEntry(reply.data() + 2 + i * TokenSlotEntry::kSize, TokenSlotEntry::kSize, slots[i]);
    }
    return 0;
}

uint32_t CStreamTokenClient::SlotState(uint32_t slotId, TokenSlotEntry& slot) {
    std::vector<uint8_t> reply;
    if (uint32_t rc = Exchange(TokenRequest::SlotState, U32Data({slotId}), kSlotStateReply, reply)) {
        return rc;
    }
    if (reply.size() != TokenSlotEntry::kSize) return kBadReply;
    DecodeTokenSlotEntry(reply.data(), reply.size(), slot);
    return 0;
}

uint32_t CStreamTokenClient::Operation(uint32_t slotId, uint16_t subOpcode, const std::vector<uint8_t>& data,
                                       std::vector<uint8_t>& reply) {
    reply.clear();
    if (data.size() > kMaxOperationData) return Result::NteBadLen;
    std::vector<uint8_t> payload = BuildTokenOperation(slotId, subOpcode, data.data(), data.size());
    WipeOnExit wipe {payload};
    return Exchange(TokenRequest::TokenOperation, payload, MsgHeader::ReplyCode(subOpcode), reply);
}

uint32_t CStreamTokenClient::EmptyReply(uint32_t status, const std::vector<uint8_t>& reply, size_t size) {
    if (status != 0) return status;
    return reply.size() == size ? 0 : kBadReply;
}

uint32_t CStreamTokenClient::ContainerReply(uint32_t status, const std::vector<uint8_t>& reply,
                                            TokenContainerEntry& container) {
    if (status != 0) return status;
    // u32 handle, then the name and its NUL, filling the reply.
    if (reply.size() < 5 || reply.back() != 0) return kBadReply;
    const char* name = reinterpret_cast<const char*>(reply.data() + 4);
    const size_t length = reply.size() - 5;
    if (strnlen(name, length) != length) return kBadReply;
    container.handle = ReadU32(reply.data());
    container.name.assign(name, length);
    return 0;
}

uint32_t CStreamTokenClient::PublicKeyReply(uint32_t status, const std::vector<uint8_t>& reply, TokenPublicKey& key) {
    if (status != 0) return status;
    if (reply.size() < 12) return kBadReply;
    const uint32_t bits = ReadU32(reply.data() + 4);
    if (bits == 0 || reply.size() - 12 != (static_cast<uint64_t>(bits) + 7) / 8) return kBadReply;
    key.keySpec = ReadU32(reply.data());
    key.bits = bits;
    key.exponent = ReadU32(reply.data() + 8);
    key.modulus.assign(reply.begin() + 12, reply.end());
    return 0;
}

uint32_t CStreamTokenClient::LoginReply(uint32_t status, const std::vector<uint8_t>& reply, TokenLoginState& state) {
    if (status != 0) return status;
    if (reply.size() != 4 || reply[0] > 1) return kBadReply;
    state.loggedIn = reply[0] == 1;
    state.pinInfo = ReadU16(reply.data() + 2);
    return 0;
}

uint32_t CStreamTokenClient::CreateContainer(uint32_t slotId, std::string_view name, uint32_t& handle) {
    std::vector<uint8_t> reply;
    const uint32_t rc = Operation(slotId, TokenRequest::CreateContainer, Terminated(name), reply);
    if (uint32_t bad = EmptyReply(rc, reply, 4)) return bad;
    handle = ReadU32(reply.data());
    return 0;
}

uint32_t CStreamTokenClient::ContainerAt(uint32_t slotId, uint32_t index, TokenContainerEntry& container) {
    std::vector<uint8_t> reply;
    return ContainerReply(Operation(slotId, TokenRequest::GetContainerByIndex, U32Data({index}), reply), reply, container);
}

uint32_t CStreamTokenClient::FindContainer(uint32_t slotId, std::string_view name, TokenContainerEntry& container) {
    std::vector<uint8_t> reply;
    return ContainerReply(Operation(slotId, TokenRequest::FindContainerByName, Terminated(name), reply), reply,
                          container);
}

uint32_t CStreamTokenClient::DeleteContainer(uint32_t slotId, uint32_t handle) {
    std::vector<uint8_t> reply;
    return EmptyReply(Operation(slotId, TokenRequest::DeleteContainer, U32Data({handle}), reply), reply, 0);
}

uint32_t CStreamTokenClient::Containers(uint32_t slotId, std::vector<TokenContainerEntry>& containers) {
    containers.clear();
    // Indexes are u32; the loop ends at the service's "no more items" long before.
    for (uint32_t index = 0;; ++index) {
        TokenContainerEntry entry;
        const uint32_t rc = ContainerAt(slotId, index, entry);
        if (rc == kNoMoreItems) return 0;
        if (rc != 0) {
            containers.clear();
            return rc;
        }
        containers.push_back(std::move(entry));
    }
}

uint32_t CStreamTokenClient::LoginState(uint32_t slotId, TokenLoginState& state) {
    std::vector<uint8_t> reply;
    return LoginReply(Operation(slotId, TokenRequest::GetLoginState, {}, reply), reply, state);
}

uint32_t CStreamTokenClient::Login(uint32_t slotId, std::string_view pin, TokenLoginState& state) {
    std::vector<uint8_t> data = Terminated(pin);
    WipeOnExit wipe {data};
    std::vector<uint8_t> reply;
    return LoginReply(Operation(slotId, TokenRequest::Login, data, reply), reply, state);
}

uint32_t CStreamTokenClient::ChangePin(uint32_t slotId, std::string_view oldPin, std::string_view newPin) {
    std::vector<uint8_t> data = Pair(oldPin, newPin);
    WipeOnExit wipe {data};
    std::vector<uint8_t> reply;
    return EmptyReply(Operation(slotId, TokenRequest::ChangePin, data, reply), reply, 4);
}

uint32_t CStreamTokenClient::UnblockPin(uint32_t slotId, std::string_view soPin, std::string_view newUserPin) {
    std::vector<uint8_t> data = Pair(soPin, newUserPin);
    WipeOnExit wipe {data};
    std::vector<uint8_t> reply;
    return EmptyReply(Operation(slotId, TokenRequest::UnblockPin, data, reply), reply, 4);
}

uint32_t CStreamTokenClient::InitToken(uint32_t slotId, std::string_view soPin, std::string_view userPin) {
    std::vector<uint8_t> data = Pair(soPin, userPin);
    WipeOnExit wipe {data};
    std::vector<uint8_t> reply;
    return EmptyReply(Operation(slotId, TokenRequest::InitTokenWithPins, data, reply), reply, 0);
}

uint32_t CStreamTokenClient::InitTokenWithoutPins(uint32_t slotId) {
    std::vector<uint8_t> reply;
    return EmptyReply(Operation(slotId, TokenRequest::InitTokenWithoutPins, {}, reply), reply, 0);
}

uint32_t CStreamTokenClient::GenerateKeyPair(uint32_t slotId, uint32_t container, uint32_t keySpec, uint32_t bits,
                                             uint32_t exponent, TokenPublicKey& key) {
    std::vector<uint8_t> reply;
    return PublicKeyReply(
        Operation(slotId, TokenRequest::GenerateKeyPair, U32Data({container, keySpec, bits, exponent}), reply), reply, key);
}

uint32_t CStreamTokenClient::GetPublicKey(uint32_t slotId, uint32_t container, uint32_t keySpec, TokenPublicKey& key) {
    std::vector<uint8_t> reply;
    return PublicKeyReply(Operation(slotId, TokenRequest::GetPublicKey, U32Data({container, keySpec}), reply), reply,
                          key);
}

uint32_t CStreamTokenClient::ImportKeyPair(uint32_t slotId, uint32_t container, uint32_t keySpec,
                                           const std::vector<uint8_t>& rsaPrivateKeyDer) {
    std::vector<uint8_t> data = U32Data({container, keySpec});
    data.insert(data.end(), rsaPrivateKeyDer.begin(), rsaPrivateKeyDer.end());
    WipeOnExit wipe {data};
    std::vector<uint8_t> reply;
    return EmptyReply(Operation(slotId, TokenRequest::ImportKeyPair, data, reply), reply, 0);
}

uint32_t CStreamTokenClient::RsaRaw(uint32_t slotId, uint32_t container, uint32_t keySpec, bool usePrivate,
                                    const std::vector<uint8_t>& block, std::vector<uint8_t>& output) {
    std::vector<uint8_t> data = U32Data({container, keySpec});
    data.insert(data.end(), block.begin(), block.end());
    const uint32_t rc =
        Operation(slotId, usePrivate ? TokenRequest::RsaPrivate : TokenRequest::RsaPublic, data, output);
    if (rc != 0) return rc;
    if (output.size() != block.size()) {
        output.clear();
        return kBadReply;
    }
    return 0;
}

uint32_t CStreamTokenClient::WriteCertificate(uint32_t slotId, uint32_t container, uint32_t keySpec,
                                              const std::vector<uint8_t>& der) {
    std::vector<uint8_t> data = U32Data({container, keySpec});
    data.insert(data.end(), der.begin(), der.end());
    std::vector<uint8_t> reply;
    return EmptyReply(Operation(slotId, TokenRequest::WriteCertificate, data, reply), reply, 0);
}

uint32_t CStreamTokenClient::ReadCertificate(uint32_t slotId, uint32_t container, uint32_t keySpec,
                                             std::vector<uint8_t>& der) {
    return Operation(slotId, TokenRequest::ReadCertificate, U32Data({container, keySpec}), der);
}

}  // namespace corvane
