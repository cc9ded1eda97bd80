// What passes between the service, the logon component, the CSP and the phones: ports, message
// codes and the fixed envelope layouts. One definition for every channel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::Contract {

// Ports.
constexpr uint16_t COMMAND_PORT = 45451;       // UDP and TCP of this service
constexpr uint16_t DEVICE_REPLY_PORT = 45452;  // UDP port on a phone that receives replies

// Datagram channel, phones on the network.
constexpr uint16_t kPresence = 0x0001;
constexpr uint16_t kWithdrawal = 0x0002;
constexpr uint16_t kTestLogoff = 0x1111;
constexpr uint16_t kLogonResultReport = 0x3013;
constexpr uint16_t kSessionQuery = 0x3014;
constexpr uint16_t kRemoteLogoff = 0x3015;
// Forwarded to the logon component only while forwarding is enabled.
constexpr uint16_t kGatedForwardCodes[] = {0x0012, 0x0021, 0x0022, 0x3001, 0x3002, 0x3003, 0xB001};
// Always forwarded to the logon component.
constexpr uint16_t kAlwaysForwardCodes[] = {0x3011, 0x3012};

// Stream channel requests from the logon component and the CSP.
constexpr uint16_t kKeyExchange = 0x1011;
constexpr uint16_t kNetDeviceList = 0x4001;
constexpr uint16_t kForwardOn = 0x4002;
constexpr uint16_t kForwardOff = 0x4003;
constexpr uint16_t kStatusNotification = 0x4102;
constexpr uint16_t kAnnouncePorts = 0x4201;
constexpr uint16_t kPhoneRelay = 0x5101;
constexpr uint16_t kRelayEnvelope = 0x5102;
constexpr uint16_t kTokenSlotList = 0x7001;
constexpr uint16_t kTokenSlotState = 0x7002;
constexpr uint16_t kTokenOperation = 0x7011;

// Phone passive channel.
constexpr uint16_t kHelloV1 = 0x0101;
constexpr uint16_t kHelloV2 = 0x0102;
constexpr uint16_t kSessionListMessage = 0x3105;
constexpr uint16_t kLogonStateReport = 0x3016;

// Presence datagram layout (after the 8-byte header).
constexpr size_t kPresencePortOffset = 8;
constexpr size_t kPresenceValueOffset = 10;
constexpr size_t kPresenceIdOffset = 14;
constexpr size_t kPresenceIdSize = 40;
constexpr size_t kPresenceNameOffset = 54;

// Forwarding envelope: the received datagram, then the sender's 16-byte sockaddr_in.
constexpr size_t kSockaddrInSize = 16;

// Status notification: the 28-byte BleStatus record.
constexpr size_t kBleStatusSize = 28;

}  // namespace corvane::Contract
