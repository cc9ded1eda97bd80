// The datagrams a phone on the local network and the logon component send to the service's
// command port, built byte by byte, and readers for what comes back (session query replies) and
// what the service forwards (the envelope with the sender's address). Used by the LAN phone
// stand-in, the logon-component sink, the tests and the fuzz seeds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket_address.h"

namespace corvane::lan {

// Presence announcement (0x0001) or withdrawal (0x0002).
std::vector<uint8_t> BuildPresence(uint16_t code, uint16_t port, uint32_t value, const std::string& id,
                                   const std::string& name);

struct LogonReportFields {
    uint32_t result = 0;
    uint32_t resultSub = 0;
    uint16_t devType = 1;
    uint16_t operation = 1;
    std::string devGuid;
    std::string secondId;
    std::string computerName;
    std::string logonServer;
    std::string userName;
    std::string devName;
    std::string errMsg;
    int32_t logonOption = 0;
    int32_t logonParam = 0;
};

// Logon result report (0x3013): strings in the order user, device name, error text.
std::vector<uint8_t> BuildLogonReport(const LogonReportFields& fields);

// Session query (0x3014).
std::vector<uint8_t> BuildSessionQuery(const std::string& deviceId, const std::string& principal);

// Remote logoff (operation 1), lock (2) or disconnect (3) of the user's session (0x3015).
std::vector<uint8_t> BuildRemoteLogoff(uint32_t operation, const std::string& deviceId, const std::string& container);

struct RemoteLogoffReply {
    uint32_t status = 0;
    uint32_t operation = 0;
    std::string deviceId;
    std::string hostGuid;
    std::string container;
    std::string text;  // the result text of a failure, empty on success
};

// Reads a 0xB015 reply; nothing when it is not one or is malformed.
std::optional<RemoteLogoffReply> ParseRemoteLogoffReply(const std::vector<uint8_t>& datagram);

// Any message: header and payload as given.
std::vector<uint8_t> BuildMessage(uint16_t code, const std::vector<uint8_t>& payload, uint32_t status = 0);

struct SessionQueryReply {
    uint32_t status = 0;
    uint32_t state = 0;
    std::string deviceId;
    std::string hostGuid;
    std::string computerName;
    int64_t logonTime = 0;
    int64_t activeTime = 0;
    int64_t lockedTime = 0;
    std::string principal;
};

// Reads a 0xB014 reply; nothing when it is not one or is malformed.
std::optional<SessionQueryReply> ParseSessionQueryReply(const std::vector<uint8_t>& datagram);

struct ForwardedDatagram {
    std::vector<uint8_t> original;  // the phone's datagram as the service received it
    SockAddrIn source;              // the phone's address
};

// Splits a forwarded envelope at length + 8; nothing when it is too short.
std::optional<ForwardedDatagram> ParseForwarded(const std::vector<uint8_t>& envelope);

}  // namespace corvane::lan
