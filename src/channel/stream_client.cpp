#include "channel/stream_client.h"

#include <cstring>

#include "channel/key_exchange.h"
#include "channel/socket_helpers.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/companion_contract.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {
constexpr int kBadData = static_cast<int>(Result::NteBadData);
constexpr int kNoMemory = static_cast<int>(Result::NteNoMemory);
}  // namespace

CStreamClient::CStreamClient(ISockets& sockets) : m_sockets(sockets) {}

CStreamClient::~CStreamClient() { Close(); }

int CStreamClient::Connect(uint16_t port) {
    Close();
    return ConnectLoopback(m_sockets, m_socket, port);
}

void CStreamClient::Close() {
    if (IsValidSocket(m_socket)) CloseSocket(m_sockets, m_socket);
    m_socket = kInvalidSocket;
    m_pCipher.reset();
}

int CStreamClient::KeyExchange(const RandomSource& random, uint32_t bits) {
    RsaHandle keyPair = nullptr;
    if (RsaGenerate(&keyPair, bits, kStreamClientKeyExponent, random) != CryptoStatus::Ok) return kNoMemory;
    const int rc = KeyExchange(keyPair);
    RsaDestroy(keyPair);
    return rc;
}

int CStreamClient::KeyExchange(RsaHandle keyPair) {
    m_pCipher.reset();
    uint32_t derSize = 0;
    if (RsaExport(keyPair, RsaFormat::PublicKey, nullptr, &derSize) != CryptoStatus::Ok) return kBadData;
    std::vector<uint8_t> payload(kKeyExchangeVersionSize + derSize);
    WriteU16(payload.data(), kKeyExchangeVersion);
    if (RsaExport(keyPair, RsaFormat::PublicKey, payload.data() + kKeyExchangeVersionSize, &derSize) !=
        CryptoStatus::Ok) {
        return kBadData;
    }
    payload.resize(kKeyExchangeVersionSize + derSize);

    StreamMessage reply;
    if (int rc = Request(Contract::kKeyExchange, 0, payload.data(), payload.size(), reply)) return rc;
    if (reply.header.status != 0) return static_cast<int>(reply.header.status);
    // Version 2, then the wrapped key: k bytes, k the modulus size (the RSA operation refuses
    // any other size).
    if (reply.payload.size() < kKeyExchangeVersionSize + kMinWrappedBlock ||
        ReadU16(reply.payload.data()) != kKeyExchangeVersion) {
        return kBadData;
    }
    const size_t k = reply.payload.size() - kKeyExchangeVersionSize;
    CipherHandle cipher = nullptr;
    if (UnwrapSessionKey(keyPair, reply.payload.data() + kKeyExchangeVersionSize, static_cast<uint32_t>(k), &cipher) !=
        SessionKeyStatus::Ok) {
        return kBadData;
    }
    m_pCipher = CSessionCipher::Adopt(cipher);
    return m_pCipher ? 0 : kBadData;
}

int CStreamClient::Request(uint16_t code, uint32_t status, const uint8_t* payload, size_t size, StreamMessage& reply,
                           int timeoutMs) {
    // The key exchange itself always travels in plain.
    const bool encrypt = m_pCipher && code != Contract::kKeyExchange && size != 0;
    std::vector<uint8_t> message(MsgHeader::kSize + (encrypt ? CSessionCipher::CipherSize(size) : size));
    size_t length = size;
    if (encrypt) {
        if (m_pCipher->Encrypt(payload, size, message.data() + MsgHeader::kSize, length) != 0) return kBadData;
    } else if (size) {
        std::memcpy(message.data() + MsgHeader::kSize, payload, size);
    }
    if (length > MsgHeader::kMaxPayload) return static_cast<int>(WsaError::MsgSize);
    MsgHeader {code, static_cast<uint16_t>(length), status}.Encode(message.data());
    if (int rc = SendRaw(message.data(), MsgHeader::kSize + length, timeoutMs)) return rc;
    if (int rc = ReceiveRaw(reply, timeoutMs)) return rc;

    if (m_pCipher && code != Contract::kKeyExchange && !reply.payload.empty()) {
        std::vector<uint8_t> plain(reply.payload.size());
        size_t plainSize = 0;
        if (m_pCipher->Decrypt(reply.payload.data(), reply.payload.size(), plain.data(), plainSize) !=
            CSessionCipher::DecryptResult::Ok) {
            return kBadData;
        }
        plain.resize(plainSize);
        reply.payload = std::move(plain);
    }
    return 0;
}

int CStreamClient::SendRaw(const uint8_t* data, size_t size, int timeoutMs) {
    return SendAll(m_sockets, data, size, m_socket, timeoutMs);
}

int CStreamClient::ReceiveRaw(StreamMessage& message, int timeoutMs) {
    ReplyArena arena;
    uint8_t* received = nullptr;
    size_t size = 0;
    if (int rc = ReceiveMessage(m_sockets, received, size, m_socket, arena, timeoutMs)) return rc;
    message.header = *MsgHeader::Decode(received, size);
    message.payload.assign(received + MsgHeader::kSize, received + size);
    return 0;
}

}  // namespace corvane
