// The receive thread of the command datagram channel.
#include <vector>

#include "channel/datagram_channel.h"
#include "channel/socket_helpers.h"
#include "platform/file_time.h"

namespace corvane {

namespace {
constexpr int kBindRetrySteps = 10;
constexpr uint32_t kBindRetryStepMs = 100;
}  // namespace

CDatagramChannel::CDatagramChannel(Platform& platform, Configuration& config, CNetDeviceTable& netDevices,
                                   CLogonReports& reports, CSessionQueries& queries, DatagramHooks hooks)
    : m_platform(platform),
      m_config(config),
      m_netDevices(netDevices),
      m_reports(reports),
      m_queries(queries),
      m_hooks(std::move(hooks)) {}

int64_t CDatagramChannel::NowSeconds() { return FileTimeToUnixSeconds(m_platform.clock->GetSystemTimeAsFileTime()); }

int CDatagramChannel::ReceiveThread(DatagramThreadState state) {
    ISockets& sockets = *m_platform.sockets;
    IClock& clock = *m_platform.clock;
    state.m_bUdpStopped = 0;

    SocketHandle s = kInvalidSocket;
    if (int rc = CreateSocket(sockets, SocketKind::Datagram, s)) return rc;
    state.m_sockUdp = s;
    if (int rc = sockets.SetReceiveTimeout(s, kDatagramReceiveTimeoutMs)) {
        CloseSocket(sockets, s);
        return rc;
    }

    auto finish = [&] {
        CloseSocket(sockets, s);
        state.m_bUdpStopped = 1;
        return 0;
    };

    // A port held by another process delays the channel until it is free or the service stops.
    // Its first refusal and the bind that follows are each said once.
    bool waited = false;
    while (const int rc = sockets.Bind(s, SockAddrIn::Inet(SockAddrIn::kAny, m_wPort))) {
        if (!waited && m_platform.diagnostics) {
            m_platform.diagnostics->Writef("UDP port %u cannot be bound (error %d, another program may hold it); "
                                           "the datagram channel waits for it",
                                           static_cast<unsigned>(m_wPort), rc);
        }
        waited = true;
        for (int i = 0; i < kBindRetrySteps; ++i) {
            if (state.m_bStop) return finish();
            clock.Sleep(kBindRetryStepMs);
        }
    }
    if (waited && m_platform.diagnostics) {
        m_platform.diagnostics->Writef("UDP port %u is bound now; the datagram channel runs", static_cast<unsigned>(m_wPort));
    }

    std::vector<uint8_t> buffer(kDatagramBufferSize);
    int64_t lastHousekeeping = NowSeconds();
    while (!state.m_bStop) {
        const int64_t now = NowSeconds();
        if (now < lastHousekeeping) {
            // The clock went back: follow it down, so ageing does not stall until it catches up.
            lastHousekeeping = now;
        } else if (now - lastHousekeeping > kHousekeepingSeconds) {
            m_netDevices.AgeNetDevices();
            lastHousekeeping = now;
        }

        size_t received = 0;
        SockAddrIn from;
        const int rc = sockets.ReceiveFrom(s, buffer.data(), buffer.size(), received, from);
        if (rc == 0) {
            if (received > 0) DispatchDatagram(buffer.data(), received, from);
        } else if (rc == WsaError::Intr) {
            break;
        } else if (rc == WsaError::TimedOut) {
            m_netDevices.AgeNetDevices();
        }
        // Any other error (a connection reset reported on a datagram socket) is ignored.
    }
    return finish();
}

}  // namespace corvane
