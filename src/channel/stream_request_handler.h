// The request table of the loopback stream channel: one request in, one reply out. Owns the
// session protection around the table (decrypt the request payload, encrypt the reply payload
// once the connection is keyed) and the key exchange that keys it. The connection thread
// (stream_connection.h) frames the bytes; this object never touches a socket, so tests and the
// fuzz target drive it directly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "channel/logon_report.h"
#include "channel/stream_device_requests.h"
#include "channel/stream_session_cipher.h"
#include "channel/stream_token_requests.h"
#include "config/configuration.h"
#include "crypto/random_source.h"
#include "phone/net_device_table.h"
#include "session/logon_state.h"
#include "wire/msg_header.h"
#include "wire/reply_arena.h"
#include "wire/result_codes.h"

namespace corvane {

// The connection record's secure state.
inline constexpr uint32_t kSecurePlain = 0;
inline constexpr uint32_t kSecureKeyed = 2;

// CryptoAPI codes of the stream channel.
namespace StreamStatus {
constexpr uint32_t NteBadLen = Result::NteBadLen;
constexpr uint32_t NteBadData = Result::NteBadData;
constexpr uint32_t NteBadType = Result::NteBadType;
constexpr uint32_t NteNoMemory = Result::NteNoMemory;
constexpr uint32_t NteFail = Result::NteFail;
constexpr uint32_t NteNotSupported = Result::NteNotSupported;
}  // namespace StreamStatus

// The protection state of one connection, owned by its thread.
struct StreamConnectionState {
    uint32_t m_nSecureState = kSecurePlain;
    std::unique_ptr<CSessionCipher> m_pCipher;
};

// The reply to one request: a complete message (header and payload) in the request's arena, or
// the bare error header held here.
struct StreamReply {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint8_t errorHeader[MsgHeader::kSize] = {};
};

// Where the table reaches state that other parts of the service own.
struct StreamHandlerHooks {
    // PublishLogonState of the session monitor; called when the state to publish has changed.
    std::function<void()> PublishLogonState;
    // Copies the 28-byte BleStatus record.
    std::function<void(uint8_t* out)> ReadBleStatus;
};

class CStreamRequestHandler {
public:
    CStreamRequestHandler(Configuration& config, std::atomic<bool>& forwardEnabled, CLogonReports& reports,
                          CNetDeviceTable& netDevices, CLogonState& logonState, RandomSource random,
                          StreamHandlerHooks hooks = {});
    CStreamRequestHandler(const CStreamRequestHandler&) = delete;
    CStreamRequestHandler& operator=(const CStreamRequestHandler&) = delete;

    // The device and token layers (null: the answers of a service without them). Set before the
    // listener starts; the objects outlive the channel.
    void SetDeviceRequests(IStreamDeviceRequests* devices) { m_pDevices = devices ? devices : &m_absentDevices; }
    void SetTokenRequests(IStreamTokenRequests* tokens) { m_pTokens = tokens ? tokens : &m_absentTokens; }
    bool HasDeviceRequests() const { return m_pDevices != &m_absentDevices; }
    bool HasTokenRequests() const { return m_pTokens != &m_absentTokens; }

    // Handles one received request: `request` is the header, `length` payload bytes and two zero
    // bytes, from `arena`. The reply's code is the request's code OR 0x8000 (for 0x5101 and 0x7011
    // the inner or sub-operation code). Every failure becomes the error header; nothing throws
    // except the arena's out-of-memory exception.
    StreamReply HandleRequest(StreamConnectionState& connection, const uint8_t* request, ReplyArena& arena);

    StreamHandlerHooks& Hooks() { return m_hooks; }

private:
    // One request in plain: 0 with `reply` (a complete message), or an error. `replyCode` starts
    // as the request's code and is replaced where the reply carries another.
    uint32_t Dispatch(const uint8_t* request, ReplyArena& arena, uint8_t*& reply, uint16_t& replyCode);
    uint32_t KeyExchange(StreamConnectionState& connection, const uint8_t* request, ReplyArena& arena,
                         uint8_t*& reply);
    uint32_t ReplacePairedDevices(const uint8_t* payload, uint16_t length);
    uint32_t ReportState(const uint8_t* request, bool phoneList, ReplyArena& arena, uint8_t*& reply);
    uint32_t ListPhones(const uint8_t* request, ReplyArena& arena, uint8_t*& reply);
    uint32_t AnnouncePorts(const uint8_t* payload, uint16_t length);
    uint32_t RelayToDevice(const uint8_t* request, ReplyArena& arena, uint8_t*& reply, uint16_t& replyCode);
    uint32_t DeviceById(const uint8_t* request, uint16_t code);
    uint32_t TokenRequest(const uint8_t* request, ReplyArena& arena, uint8_t*& reply, uint16_t& replyCode);

    Configuration& m_config;
    std::atomic<bool>& m_forwardEnabled;
    CLogonReports& m_reports;
    CNetDeviceTable& m_netDevices;
    CLogonState& m_logonState;
    RandomSource m_random;
    StreamHandlerHooks m_hooks;
    CAbsentDeviceRequests m_absentDevices;
    CAbsentTokenRequests m_absentTokens;
    IStreamDeviceRequests* m_pDevices = &m_absentDevices;
    IStreamTokenRequests* m_pTokens = &m_absentTokens;
};

// An empty reply message (header only, length 0, status 0) from the arena; null without memory.
uint8_t* AllocateEmptyReply(ReplyArena& arena);

}  // namespace corvane
