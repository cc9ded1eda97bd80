#include "channel/logon_relay.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "channel/socket_helpers.h"
#include "platform/text.h"
#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {

uint32_t StatusOf(const uint8_t* message) { return ReadU32(message + MsgHeader::kStatusOffset); }
}  // namespace

uint32_t CLogonRelay::RelayLogonRequest(std::u16string_view deviceId, const uint8_t* request, size_t size,
                                        ReplyArena& arena, uint8_t*& reply, size_t& replySize) {
    reply = nullptr;
    replySize = 0;
    if (m_config.g_wLogonPortTcp.load() == 0) return Result::ConsoleNotLogonable;
    const auto header = MsgHeader::Decode(request, size);
    if (!header || kRelayDeviceIdSize + size > MsgHeader::kMaxPayload) return Result::NteFail;

    // The envelope: the device id as UTF-8 in its slot (cut at 40 bytes), then the request.
    std::vector<uint8_t> envelope(MsgHeader::kSize + kRelayDeviceIdSize + size, 0);
    MsgHeader {Contract::kRelayEnvelope, static_cast<uint16_t>(kRelayDeviceIdSize + size), 0}.Encode(envelope.data());
    const std::string id = Utf16ToUtf8(deviceId);
    std::memcpy(envelope.data() + MsgHeader::kSize, id.data(), std::min(id.size(), kRelayDeviceIdSize));
    std::memcpy(envelope.data() + MsgHeader::kSize + kRelayDeviceIdSize, request, size);

    uint32_t rc = RelayOnce(envelope.data(), envelope.size(), header->code, arena, reply, replySize);
    if (header->code != kRelayRelogon || rc != 0 || StatusOf(reply) != Result::ConsoleLockedByOtherUser) return rc;

    // The console is locked by another user: the logon component may still switch; ask again.
    for (int attempt = 0; attempt < kRelayMaxRepeats; ++attempt) {
        m_platform.clock->Sleep(kRelayRepeatDelayMs);
        rc = RelayOnce(envelope.data(), envelope.size(), header->code, arena, reply, replySize);
        const bool repeat = rc == 0 ? StatusOf(reply) == Result::ConsoleLockedByOtherUser : rc != Result::NteNoMemory;
        if (!repeat) break;
    }
    return rc;
}

uint32_t CLogonRelay::RelayOnce(const uint8_t* envelope, size_t envelopeSize, uint16_t code, ReplyArena& arena,
                                uint8_t*& reply, size_t& replySize) {
    reply = nullptr;
    replySize = 0;
    ISockets& sockets = *m_platform.sockets;
    SocketHandle s = kInvalidSocket;
    int rc = ConnectLoopback(sockets, s, m_config.g_wLogonPortTcp.load());
    if (rc == WsaError::ConnRefused) return code == kRelayLogon ? kRelayNotListening : Result::ConsoleNotLogonable;
    if (rc != 0) return static_cast<uint32_t>(rc);
    rc = SendAll(sockets, envelope, envelopeSize, s, kRelayTimeoutMs);
    if (rc == 0) rc = ReceiveMessage(sockets, reply, replySize, s, arena, kRelayTimeoutMs);
    CloseSocket(sockets, s);
    if (rc == static_cast<int>(WinError::NotEnoughMemory)) rc = static_cast<int>(Result::NteNoMemory);
    if (rc != 0) {
        reply = nullptr;
        replySize = 0;
        // A refused connection can also show only once the connect completes, at the first send.
        if (rc == WsaError::ConnRefused) return code == kRelayLogon ? kRelayNotListening : Result::ConsoleNotLogonable;
    }
    return static_cast<uint32_t>(rc);
}

}  // namespace corvane
