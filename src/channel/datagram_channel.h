// The command datagram channel: UDP port 45451 on every local IPv4 address. Phones announce and
// withdraw themselves, ask for their user's sessions and send codes meant for the logon
// component, which the channel forwards; the logon component reports its logon results here.
// One thread receives and dispatches; nothing is ever sent back by the channel itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "wire/companion_contract.h"
#include "channel/logon_report.h"
#include "channel/session_query.h"
#include "config/configuration.h"
#include "phone/net_device_table.h"
#include "platform/platform.h"

namespace corvane {

inline constexpr size_t kDatagramBufferSize = 65536;
inline constexpr uint32_t kDatagramReceiveTimeoutMs = 1000;
// Without traffic the ageing pass runs on every receive time-out; under traffic at least once
// more than this many seconds have passed.
inline constexpr int64_t kHousekeepingSeconds = 3;

// Handlers that arrive with later parts of the service. An empty hook: the code is not handled
// in this build (TestLogoff is then a no-op, the remote logoff is dropped as unknown).
struct DatagramHooks {
    std::function<uint32_t()> TestLogoff;
    std::function<int32_t(const uint8_t* datagram, size_t size, const SockAddrIn& source)> HandleRemoteLogoff;
};

// The flags and socket slot of the application that the receive thread reports through.
struct DatagramThreadState {
    std::atomic<int32_t>& m_bStop;
    std::atomic<int32_t>& m_bUdpStopped;
    std::atomic<intptr_t>& m_sockUdp;
};

class CDatagramChannel {
public:
    CDatagramChannel(Platform& platform, Configuration& config, CNetDeviceTable& netDevices, CLogonReports& reports,
                     CSessionQueries& queries, DatagramHooks hooks = {});
    CDatagramChannel(const CDatagramChannel&) = delete;
    CDatagramChannel& operator=(const CDatagramChannel&) = delete;

    // The receive thread: 0 after a normal stop, or the Windows Sockets error that kept the
    // socket from being created or configured (the stopped flag then stays 0).
    int ReceiveThread(DatagramThreadState state);

    // Handles one received datagram of `size` bytes from `source`: 0 handled, -1 a forwardable
    // datagram not forwarded, -3509 malformed or unknown.
    int32_t DispatchDatagram(const uint8_t* datagram, size_t size, const SockAddrIn& source);

    // Forwarding of the gated codes to the logon component; switched by the stream channel.
    std::atomic<bool> ForwardEnabled {false};
    // The port the thread binds (the command port; tests may choose another).
    uint16_t m_wPort = Contract::COMMAND_PORT;

    DatagramHooks& Hooks() { return m_hooks; }

private:
    int32_t Forward(const uint8_t* datagram, size_t size, const SockAddrIn& source);
    int32_t HandlePresence(uint16_t code, const uint8_t* datagram, size_t size, const SockAddrIn& source);
    int64_t NowSeconds();

    Platform& m_platform;
    Configuration& m_config;
    CNetDeviceTable& m_netDevices;
    CLogonReports& m_reports;
    CSessionQueries& m_queries;
    DatagramHooks m_hooks;
};

}  // namespace corvane
