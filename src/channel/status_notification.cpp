#include "channel/status_notification.h"

#include <cstring>

#include "channel/socket_helpers.h"
#include "wire/companion_contract.h"
#include "wire/msg_header.h"

namespace corvane {

int32_t SendStatusNotification(ISockets& sockets, uint16_t port, const uint8_t* bleStatus, size_t size) {
    if (port == 0 || size != Contract::kBleStatusSize) return -1;
    uint8_t message[MsgHeader::kSize + Contract::kBleStatusSize];
    MsgHeader {Contract::kStatusNotification, static_cast<uint16_t>(Contract::kBleStatusSize), 0}.Encode(message);
    std::memcpy(message + MsgHeader::kSize, bleStatus, Contract::kBleStatusSize);

    SocketHandle s = kInvalidSocket;
    if (ConnectLoopback(sockets, s, port) != 0) return -1;
    int rc = SendAll(sockets, message, sizeof message, s, kStatusNotificationTimeoutMs);
    if (rc == 0) {
        ReplyArena arena;
        uint8_t* reply = nullptr;
        size_t replySize = 0;
        rc = ReceiveMessage(sockets, reply, replySize, s, arena, kStatusNotificationTimeoutMs);
    }
    CloseSocket(sockets, s);
    return rc == 0 ? 0 : -1;
}

}  // namespace corvane
