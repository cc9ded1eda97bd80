// The stream channel verbs: talk to the service's loopback stream channel as the logon component
// and the CSP do, and drive the relay to the logon component.
//   stream CODE [STATUS] [HEX] [--keyed] [--port PORT]   one request; prints the reply, and
//       exits 1 when its status is a failure (followed by its text)
//   ble-status [--keyed] [--port PORT]                     the BleStatus record (0x4103)
//   relay DEVICE-ID logon|unlock|relogon USER DOMAIN [--option N] [--delay S] [--name TEXT]
//       relays a phone's request to the logon component on LogonPortTCP, as the service does
//       for a phone, and prints the component's answer
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "channel/logon_relay.h"
#include "channel/stream_client.h"
#include "config/configuration.h"
#include "ctl_commands.h"
#include "ctl_connection.h"
#include "ctl_numbers.h"
#include "platform/guid_text.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "lan_socket.h"
#include "relayed_logon.h"
#include "status_text.h"
#include "wire/byte_order.h"
#include "wire/companion_contract.h"

namespace corvane::ctl {

namespace {
constexpr const char* kStreamUsage = "usage: corvane-ctl stream CODE [STATUS] [HEX] [--keyed] [--port PORT]";
constexpr const char* kBleUsage = "usage: corvane-ctl ble-status [--keyed] [--port PORT]";
constexpr const char* kRelayUsage =
    "usage: corvane-ctl relay DEVICE-ID logon|unlock|relogon USER DOMAIN [--option N] [--delay S] [--name TEXT]";

// One request on a fresh connection (keyed first when asked).
int Exchange(const Connection& c, uint16_t code, uint32_t status, const std::vector<uint8_t>& payload,
             StreamMessage& reply) {
    posix::PosixSockets sockets;
    sockets.Startup();
    CStreamClient client(sockets);
    if (int rc = OpenConnection(c, client)) return rc;
    if (int rc = client.Request(code, status, payload.data(), payload.size(), reply)) {
        return Fail("no reply (" + ErrorText(rc) + ")");
    }
    return 0;
}

// A reply failed when its status is not 0, unless it only echoes the request's own status (the
// logon component's state report carries its state there, and its reply gives it back).
bool Failed(const StreamMessage& reply, uint32_t requestStatus) {
    return reply.header.status != 0 && reply.header.status != requestStatus;
}

void PrintReply(const StreamMessage& reply, uint32_t requestStatus = 0) {
    const std::string text = Failed(reply, requestStatus) ? tools::StatusTextSuffix(reply.header.status) : "";
    std::printf("reply code=0x%04x length=%u status=0x%08x%s payload=%s\n", reply.header.code, reply.header.length,
                reply.header.status, text.c_str(), lan::Hex(reply.payload.data(), reply.payload.size()).c_str());
}
}  // namespace

int RunStream(const Args& args) {
    Args words = args;
    Connection c;
    if (!TakeConnectionOptions(words, c) || words.empty() || words.size() > 3) return UsageFail(kStreamUsage);
    const auto code = ParseNumber(words[0]);
    const auto status = words.size() > 1 ? ParseNumber(words[1]) : std::optional<uint32_t>(0);
    const auto payload = words.size() > 2 ? lan::ParseHex(words[2]) : std::optional<std::vector<uint8_t>>(std::vector<uint8_t>{});
    if (!code || *code > 0xFFFF || !status || !payload || payload->size() > 0xFF00) return UsageFail(kStreamUsage);
    StreamMessage reply;
    if (int rc = Exchange(c, static_cast<uint16_t>(*code), *status, *payload, reply)) return rc;
    PrintReply(reply, *status);
    return Failed(reply, *status) ? 1 : 0;
}

int RunBleStatus(const Args& args) {
    Args words = args;
    Connection c;
    if (!TakeConnectionOptions(words, c) || !words.empty()) return UsageFail(kBleUsage);
    StreamMessage reply;
    if (int rc = Exchange(c, 0x4103, 0, {}, reply)) return rc;
    if (reply.header.status != 0 || reply.payload.size() != Contract::kBleStatusSize) {
        PrintReply(reply);
        return Fail("the service did not return the BleStatus record");
    }
    const uint32_t flags = ReadU32(reply.payload.data());
    // The binary GUID as Windows stores it: three little-endian fields, then eight bytes.
    const uint8_t* g = reply.payload.data() + 12;
    Guid guid;
    guid.data1 = ReadU32(g);
    guid.data2 = ReadU16(g + 4);
    guid.data3 = ReadU16(g + 6);
    std::copy(g + 8, g + 16, guid.data4);
    std::printf("flags=0x%08x ble-service=%s host-guid=%s\n", flags, (flags & 2) ? "running" : "stopped",
                Utf16ToUtf8(FormatGuid(guid)).c_str());
    return 0;
}

int RunRelay(const Args& args) {
    if (args.size() < 4) return UsageFail(kRelayUsage);
    logon::RelayedLogon request;
    if (args[1] == "logon") {
        request.code = logon::kRelayedLogon;
    } else if (args[1] == "unlock") {
        request.code = logon::kRelayedUnlock;
    } else if (args[1] == "relogon") {
        request.code = logon::kRelayedRelogon;
    } else {
        return UsageFail(kRelayUsage);
    }
    request.user = args[2];
    request.domain = args[3];
    for (size_t i = 4; i < args.size(); ++i) {
        if (i + 1 >= args.size()) return UsageFail(kRelayUsage);
        const std::string& option = args[i];
        const std::string& value = args[++i];
        if (option == "--name") {
            request.deviceName = value;
            continue;
        }
        const auto n = ParseNumber(value);
        if (!n) return UsageFail(kRelayUsage);
        if (option == "--option") {
            request.logonOption = static_cast<int32_t>(*n);
        } else if (option == "--delay") {
            request.delay = static_cast<int32_t>(*n);
        } else {
            return UsageFail(kRelayUsage);
        }
    }

    const auto root = posix::StateRoot::FromEnvironment();
    posix::PosixRegistry registry(root.RegistryDir());
    posix::PosixSockets sockets;
    posix::PosixClock clock;
    sockets.Startup();
    Platform platform;
    platform.registry = &registry;
    platform.sockets = &sockets;
    platform.clock = &clock;
    Configuration config;
    LoadLogonPorts(platform, config);

    const std::vector<uint8_t> message = logon::BuildRelayedLogon(request);
    CLogonRelay relay(platform, config);
    ReplyArena arena;
    uint8_t* reply = nullptr;
    size_t size = 0;
    const uint32_t rc = relay.RelayLogonRequest(Utf8ToUtf16(args[0]), message.data(), message.size(), arena, reply, size);
    std::printf("relay result=0x%08x%s", rc, tools::StatusTextSuffix(rc).c_str());
    if (rc == 0) {
        const MsgHeader header = *MsgHeader::Decode(reply, size);
        std::printf(" reply code=0x%04x length=%u status=0x%08x%s", header.code, header.length, header.status,
                    tools::StatusTextSuffix(header.status).c_str());
    }
    std::printf("\n");
    return rc == 0 ? 0 : 1;
}

}  // namespace corvane::ctl
