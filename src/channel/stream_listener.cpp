#include "channel/stream_listener.h"

#include "channel/socket_helpers.h"
#include "channel/stream_connection.h"

namespace corvane {

namespace {
constexpr int kBindRetrySteps = 10;
constexpr uint32_t kBindRetryStepMs = 100;
// After an accept failure other than a drained socket (no descriptors left, a connection reset
// before it was taken), a short pause keeps the loop from spinning.
constexpr uint32_t kAcceptFailurePauseMs = 10;
}  // namespace

CStreamListener::CStreamListener(Platform& platform, CStreamRequestHandler& handler)
    : m_platform(platform), m_handler(handler) {}

int CStreamListener::ListenerThread(StreamThreadState state) {
    ISockets& sockets = *m_platform.sockets;
    IClock& clock = *m_platform.clock;

    SocketHandle s = kInvalidSocket;
    if (int rc = CreateSocket(sockets, SocketKind::Stream, s)) return rc;

    // A port held by another process delays the channel until it is free or the service stops.
    // Its first refusal and the bind that follows are each said once.
    bool waited = false;
    while (const int rc = sockets.Bind(s, SockAddrIn::Inet(SockAddrIn::kAny, m_wPort))) {
        if (!waited && m_platform.diagnostics) {
            m_platform.diagnostics->Writef("TCP port %u cannot be bound (error %d, another program may hold it); "
                                           "the stream channel waits for it",
                                           static_cast<unsigned>(m_wPort), rc);
        }
        waited = true;
        for (int i = 0; i < kBindRetrySteps; ++i) {
            if (state.m_bStop) {
                CloseSocket(sockets, s);
                return 0;
            }
            clock.Sleep(kBindRetryStepMs);
        }
    }
    if (waited && m_platform.diagnostics) {
        m_platform.diagnostics->Writef("TCP port %u is bound now; the stream channel runs", static_cast<unsigned>(m_wPort));
    }
    if (int rc = sockets.Listen(s, kStreamListenBacklog)) {
        CloseSocket(sockets, s);
        return rc;
    }
    SockAddrIn local;
    if (sockets.GetLocalAddress(s, local) == 0) m_wListeningPort = local.port;
    state.m_bTcpStopped = 0;
    state.m_sockTcpListen = s;

    while (!state.m_bStop) {
        SocketHandle client = kInvalidSocket;
        SockAddrIn peer;
        const int rc = sockets.Accept(s, client, &peer);
        if (rc == WsaError::Intr) break;
        if (rc != 0) {
            clock.Sleep(kAcceptFailurePauseMs);
            continue;
        }
        // Only the companion components on this computer are served.
        if (peer.address != SockAddrIn::kLoopback) {
            CloseSocket(sockets, client);
            continue;
        }
        StartConnection(client, state.ActiveWorkerCount);
    }
    CloseSocket(sockets, s);
    state.m_bTcpStopped = 1;
    return 0;
}

void CStreamListener::StartConnection(SocketHandle s, std::atomic<int32_t>& activeWorkers) {
    // Counted before the thread runs, so that the stop sequence cannot miss a connection that
    // is just starting.
    ++activeWorkers;
    ISockets& sockets = *m_platform.sockets;
    const bool started = m_platform.threads->CreateThread([this, &sockets, &activeWorkers, s] {
        StreamConnectionState connection;
        ServeStreamConnection(sockets, m_handler, s, connection);
        connection.m_pCipher.reset();
        CloseSocket(sockets, s);
        --activeWorkers;
    });
    if (!started) {
        CloseSocket(sockets, s);
        --activeWorkers;
    }
}

}  // namespace corvane
