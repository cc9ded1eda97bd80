// The session protection around the request table, and the key exchange that keys a connection.
#include "channel/stream_request_handler.h"

#include <cstring>

#include "channel/key_exchange.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/companion_contract.h"

namespace corvane {

namespace {
constexpr size_t kTrailingZeros = 2;

MsgHeader HeaderOf(const uint8_t* message) { return *MsgHeader::Decode(message, MsgHeader::kSize); }
}  // namespace

CStreamRequestHandler::CStreamRequestHandler(Configuration& config, std::atomic<bool>& forwardEnabled,
                                             CLogonReports& reports, CNetDeviceTable& netDevices,
                                             CLogonState& logonState, RandomSource random, StreamHandlerHooks hooks)
    : m_config(config),
      m_forwardEnabled(forwardEnabled),
      m_reports(reports),
      m_netDevices(netDevices),
      m_logonState(logonState),
      m_random(std::move(random)),
      m_hooks(std::move(hooks)) {}

uint8_t* AllocateEmptyReply(ReplyArena& arena) { return arena.Allocate(MsgHeader::kSize); }

StreamReply CStreamRequestHandler::HandleRequest(StreamConnectionState& connection, const uint8_t* request,
                                                 ReplyArena& arena) {
    const MsgHeader header = HeaderOf(request);
    uint16_t replyCode = header.code;
    uint8_t* reply = nullptr;
    uint32_t status = 0;

    if (header.code == Contract::kKeyExchange) {
        // Never decrypted, and its reply is never encrypted.
        status = KeyExchange(connection, request, arena, reply);
    } else {
        const uint8_t* plain = request;
        if (connection.m_nSecureState == kSecureKeyed && header.length != 0) {
            uint8_t* decrypted = arena.Allocate(MsgHeader::kSize + header.length + kTrailingZeros);
            size_t plainSize = 0;
            if (decrypted == nullptr) {
                status = StreamStatus::NteFail;
            } else {
                switch (connection.m_pCipher->Decrypt(request + MsgHeader::kSize, header.length,
                                                      decrypted + MsgHeader::kSize, plainSize)) {
                    case CSessionCipher::DecryptResult::Ok: break;
                    case CSessionCipher::DecryptResult::CipherFailed: status = StreamStatus::NteFail; break;
                    case CSessionCipher::DecryptResult::BadData: status = StreamStatus::NteBadData; break;
                }
            }
            if (status == 0) {
                MsgHeader {header.code, static_cast<uint16_t>(plainSize), header.status}.Encode(decrypted);
                plain = decrypted;
            }
        }
        if (status == 0) status = Dispatch(plain, arena, reply, replyCode);

        if (status == 0 && connection.m_nSecureState == kSecureKeyed) {
            const MsgHeader replyHeader = HeaderOf(reply);
            if (replyHeader.length != 0) {
                const size_t cipherSize = CSessionCipher::CipherSize(replyHeader.length);
                uint8_t* encrypted = cipherSize <= MsgHeader::kMaxPayload ? arena.Allocate(MsgHeader::kSize + cipherSize) : nullptr;
                size_t written = 0;
                if (encrypted == nullptr ||
                    connection.m_pCipher->Encrypt(reply + MsgHeader::kSize, replyHeader.length,
                                                  encrypted + MsgHeader::kSize, written) != 0) {
                    status = StreamStatus::NteFail;
                } else {
                    MsgHeader {replyHeader.code, static_cast<uint16_t>(written), replyHeader.status}.Encode(encrypted);
                    reply = encrypted;
                }
            }
        }
    }

    StreamReply out;
    if (status != 0) {
        MsgHeader::ErrorReply(replyCode, status).Encode(out.errorHeader);
        out.data = out.errorHeader;
        out.size = MsgHeader::kSize;
        return out;
    }
    WriteU16(reply + MsgHeader::kCodeOffset, MsgHeader::ReplyCode(replyCode));
    out.data = reply;
    out.size = MsgHeader::kSize + ReadU16(reply + MsgHeader::kLengthOffset);
    return out;
}

uint32_t CStreamRequestHandler::KeyExchange(StreamConnectionState& connection, const uint8_t* request,
                                            ReplyArena& arena, uint8_t*& reply) {
    // A failed exchange leaves the connection in plain mode.
    connection.m_pCipher.reset();
    connection.m_nSecureState = kSecurePlain;

    const MsgHeader header = HeaderOf(request);
    KeyExchangeResult result = RunKeyExchange(request + MsgHeader::kSize, header.length, m_random);
    if (result.status != 0) return result.status;

    const size_t length = kKeyExchangeVersionSize + result.wrappedKey.size();
    reply = arena.Allocate(MsgHeader::kSize + length);
    if (reply == nullptr) return StreamStatus::NteFail;
    MsgHeader {header.code, static_cast<uint16_t>(length), 0}.Encode(reply);
    WriteU16(reply + MsgHeader::kSize, kKeyExchangeVersion);
    std::memcpy(reply + MsgHeader::kSize + kKeyExchangeVersionSize, result.wrappedKey.data(), result.wrappedKey.size());

    connection.m_pCipher = std::move(result.cipher);
    connection.m_nSecureState = kSecureKeyed;
    return 0;
}

}  // namespace corvane
