// The loopback stream channel: 0x4103 round trips (an 8-byte request, a 36-byte reply; 40 bytes
// keyed) over 1 and 16 connections at once, plain and keyed, through the service's listener,
// connection threads and request table and the client library, next to a bare loopback TCP
// ping-pong of the same sizes (send, then receive exactly the reply, on blocking sockets, served
// by one thread per connection). Items per second are round trips per second; the ratio printed
// after the run is our time per round trip over the bare one.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "channel/logon_report.h"
#include "channel/socket_helpers.h"
#include "channel/stream_client.h"
#include "channel/stream_listener.h"
#include "channel/stream_request_handler.h"
#include "config/configuration.h"
#include "device/device_map.h"
#include "phone/net_device_table.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/posix_threads.h"
#include "platform/posix/state_root.h"
#include "session/logon_state.h"

namespace corvane {
namespace {

constexpr size_t kRequestSize = 8;
constexpr size_t kPlainReplySize = 36;
constexpr size_t kKeyedReplySize = 40;

// The service's side: the listener with its table on an ephemeral loopback port, on real
// threads, sockets and clock; built once and left running until the process ends.
struct Service {
    Service() : system(posix::StateRoot::At("/tmp")) {
        platform.clock = &clock;
        platform.sockets = &sockets;
        platform.threads = &threads;
        platform.system = &system;
        sockets.Startup();
        listener.m_wPort = 0;
        threads.CreateThread([this] { listener.ListenerThread({stop, tcpStopped, listenSocket, workers}); });
        while (listener.m_wListeningPort == 0) std::this_thread::yield();
    }

    posix::PosixClock clock;
    posix::PosixSockets sockets;
    posix::PosixThreads threads;
    posix::PosixSystem system;
    Platform platform;
    Configuration config;
    CNetDeviceTable table {clock, config.m_hDevNetMutex};
    DeviceMap devices {config};
    CLogonReports reports {platform, config, table, devices};
    std::atomic<bool> forwardEnabled {false};
    CLogonState logonState;
    CStreamRequestHandler handler {config, forwardEnabled, reports, table, logonState,
                                   [this](uint8_t* b, size_t n) { return system.GenRandom(b, n); },
                                   StreamHandlerHooks {{}, [](uint8_t* out) { std::fill(out, out + 28, 0); }}};
    CStreamListener listener {platform, handler};
    std::atomic<int32_t> stop {0}, tcpStopped {1}, workers {0};
    std::atomic<intptr_t> listenSocket {-1};
};

Service& TheService() {
    static auto* service = new Service();
    return *service;
}

// One key pair for every keyed client (generating one per connection would only slow the set-up).
RsaHandle ClientKey() {
    static RsaHandle key = [] {
        RsaHandle k = nullptr;
        RsaGenerate(&k, 1024, 65537, [](uint8_t* b, size_t n) { return TheService().system.GenRandom(b, n); });
        return k;
    }();
    return key;
}

void StreamRoundTrips(benchmark::State& state, bool keyed) {
    Service& service = TheService();
    CStreamClient client(service.sockets);
    if (client.Connect(service.listener.m_wListeningPort) != 0 || (keyed && client.KeyExchange(ClientKey()) != 0)) {
        state.SkipWithError("no connection to the stream channel");
        return;
    }
    StreamMessage reply;
    for (auto _ : state) {
        if (client.Request(0x4103, 0, nullptr, 0, reply) != 0 || reply.payload.size() != 28) {
            state.SkipWithError("bad reply");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// The bare peer: an echo server that answers each 8-byte request with `replySize` bytes.
struct PingPongServer {
    explicit PingPongServer(size_t replySize) : m_replySize(replySize) {
        ISockets& sockets = TheService().sockets;
        CreateSocket(sockets, SocketKind::Stream, m_listen);
        sockets.Bind(m_listen, SockAddrIn::Inet(SockAddrIn::kLoopback, 0));
        sockets.Listen(m_listen, 32);
        SockAddrIn local;
        sockets.GetLocalAddress(m_listen, local);
        port = local.port;
        std::thread([this] { Accept(); }).detach();
    }
    void Accept() {
        ISockets& sockets = TheService().sockets;
        for (;;) {
            SocketHandle s = kInvalidSocket;
            if (sockets.Accept(m_listen, s, nullptr) != 0) return;
            std::thread([this, s] { Serve(s); }).detach();
        }
    }
    void Serve(SocketHandle s) {
        ISockets& sockets = TheService().sockets;
        uint8_t request[kRequestSize];
        std::vector<uint8_t> reply(m_replySize, 0x5A);
        while (ReceiveExact(sockets, request, sizeof request, s, -1) == 0) {
            size_t sent = 0;
            if (sockets.Send(s, reply.data(), reply.size(), sent) != 0 || sent != reply.size()) break;
        }
        CloseSocket(sockets, s);
    }

    uint16_t port = 0;

private:
    size_t m_replySize;
    SocketHandle m_listen = kInvalidSocket;
};

void BarePingPong(benchmark::State& state, size_t replySize) {
    static PingPongServer plain(kPlainReplySize);
    static PingPongServer keyed(kKeyedReplySize);
    ISockets& sockets = TheService().sockets;
    PingPongServer& server = replySize == kPlainReplySize ? plain : keyed;
    SocketHandle s = kInvalidSocket;
    CreateSocket(sockets, SocketKind::Stream, s);
    if (sockets.Connect(s, SockAddrIn::Inet(SockAddrIn::kLoopback, server.port)) != 0) {
        state.SkipWithError("no connection to the ping-pong server");
        return;
    }
    uint8_t request[kRequestSize] = {0x03, 0x41};
    std::vector<uint8_t> reply(replySize);
    for (auto _ : state) {
        size_t sent = 0;
        if (sockets.Send(s, request, sizeof request, sent) != 0 ||
            ReceiveExact(sockets, reply.data(), reply.size(), s, -1) != 0) {
            state.SkipWithError("ping-pong failed");
            break;
        }
    }
    CloseSocket(sockets, s);
    state.SetItemsProcessed(state.iterations());
}

void Plain_corvane(benchmark::State& state) { StreamRoundTrips(state, false); }
void Keyed_corvane(benchmark::State& state) { StreamRoundTrips(state, true); }
void Plain_bare(benchmark::State& state) { BarePingPong(state, kPlainReplySize); }
void Keyed_bare(benchmark::State& state) { BarePingPong(state, kKeyedReplySize); }

BENCHMARK(Plain_corvane)->Name("StreamStatusQuery/plain/corvane")->Threads(1)->Threads(16)->UseRealTime();
BENCHMARK(Plain_bare)->Name("StreamStatusQuery/plain/bare")->Threads(1)->Threads(16)->UseRealTime();
BENCHMARK(Keyed_corvane)->Name("StreamStatusQuery/keyed/corvane")->Threads(1)->Threads(16)->UseRealTime();
BENCHMARK(Keyed_bare)->Name("StreamStatusQuery/keyed/bare")->Threads(1)->Threads(16)->UseRealTime();

}  // namespace
}  // namespace corvane
