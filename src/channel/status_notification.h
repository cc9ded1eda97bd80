// The status notification to the logon component: code 0x4102 with the 28-byte BleStatus record,
// sent in plain on a short connection of its own to the logon component's stream port. The
// component answers with one framed reply, which is read and discarded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sockets.h"

namespace corvane {

// The time-out of each wait of the exchange.
inline constexpr int kStatusNotificationTimeoutMs = 10000;

// 0 when the notification was sent and a reply came back; -1 when `port` is 0 or any step failed.
int32_t SendStatusNotification(ISockets& sockets, uint16_t port, const uint8_t* bleStatus, size_t size);

}  // namespace corvane
