// The listener and its connection threads on real loopback sockets (an ephemeral port): plain
// and keyed requests through the client library, peers other than 127.0.0.1, clients that go
// away in the middle of a request, and the stop through the Windows Sockets clean-up.
#include <gtest/gtest.h>

#include "channel/socket_helpers.h"
#include "stream_world.h"

namespace corvane::test {
namespace {

RandomSource Csprng(TestPlatform& platform) {
    return [&platform](uint8_t* b, size_t n) { return platform.system.GenRandom(b, n); };
}

TEST(StreamListener, ListensServesPlainAndKeyedRequestsAndStopsWhenSocketsAreDrained) {
    StreamListenerWorld w;
    ASSERT_NE(w.Port(), 0);
    EXPECT_EQ(w.m_bTcpStopped.load(), 0);
    EXPECT_NE(w.m_sockTcpListen.load(), -1);

    CStreamClient client(w.platform.sockets);
    ASSERT_EQ(client.Connect(w.Port()), 0);
    StreamMessage reply;
    ASSERT_EQ(client.Request(0x4103, 0, nullptr, 0, reply), 0);
    EXPECT_EQ(reply.header.code, 0xC103);
    EXPECT_EQ(reply.header.length, 28);
    EXPECT_TRUE(StreamListenerWorld::WaitUntil([&] { return w.ActiveWorkerCount.load() == 1; }));

    ASSERT_EQ(client.KeyExchange(Csprng(w.platform), 1024), 0);
    ASSERT_EQ(client.Request(0x4103, 0, nullptr, 0, reply), 0);
    EXPECT_EQ(reply.header.length, 32);
    EXPECT_EQ(reply.payload, std::vector<uint8_t>(w.bleStatus.begin(), w.bleStatus.end()));

    w.Stop();
    EXPECT_EQ(w.result.load(), 0);
    EXPECT_EQ(w.m_bTcpStopped.load(), 1);
    EXPECT_EQ(w.ActiveWorkerCount.load(), 0);
}

TEST(StreamListener, ConnectionsAreServedSideBySide) {
    StreamListenerWorld w;
    CStreamClient first(w.platform.sockets), second(w.platform.sockets);
    ASSERT_EQ(first.Connect(w.Port()), 0);
    ASSERT_EQ(second.Connect(w.Port()), 0);
    StreamMessage reply;
    // The second is answered while the first stays open and idle.
    ASSERT_EQ(second.Request(0x4201, 0, std::vector<uint8_t> {0, 0, 0x70, 0x17}.data(), 4, reply), 0);
    ASSERT_EQ(first.Request(0x4103, 0, nullptr, 0, reply), 0);
    EXPECT_EQ(w.config.g_wLogonPortUdp.load(), 6000);
    EXPECT_TRUE(StreamListenerWorld::WaitUntil([&] { return w.ActiveWorkerCount.load() == 2; }));
}

TEST(StreamListener, MalformedRequestsGetTheirErrorAndTheConnectionStaysUsable) {
    StreamListenerWorld w;
    CStreamClient client(w.platform.sockets);
    ASSERT_EQ(client.Connect(w.Port()), 0);
    StreamMessage reply;
    ASSERT_EQ(client.Request(0x4201, 0, std::vector<uint8_t>(3, 1).data(), 3, reply), 0);
    EXPECT_EQ(reply.header.code, 0xC201);
    EXPECT_EQ(reply.header.status, 0x80090004u);
    ASSERT_EQ(client.KeyExchange(Csprng(w.platform), 512), 0);
    // A ciphertext that is not whole blocks, sent raw on the keyed connection.
    const std::vector<uint8_t> raw = {0x01, 0x42, 5, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5};
    ASSERT_EQ(client.SendRaw(raw.data(), raw.size()), 0);
    ASSERT_EQ(client.ReceiveRaw(reply), 0);
    EXPECT_EQ(reply.header.code, 0xC201);
    EXPECT_EQ(reply.header.status, 0x80090005u);
    ASSERT_EQ(client.Request(0x4103, 0, nullptr, 0, reply), 0);
    EXPECT_EQ(reply.payload.size(), 28u);
}

TEST(StreamListener, AClientThatSendsHalfAHeaderAndGoesAwayCostsOneThreadThatEnds) {
    StreamListenerWorld w;
    {
        CStreamClient client(w.platform.sockets);
        ASSERT_EQ(client.Connect(w.Port()), 0);
        const uint8_t half[4] = {0x03, 0x41, 0, 0};
        ASSERT_EQ(client.SendRaw(half, sizeof half), 0);
        EXPECT_TRUE(StreamListenerWorld::WaitUntil([&] { return w.ActiveWorkerCount.load() == 1; }));
    }
    EXPECT_TRUE(StreamListenerWorld::WaitUntil([&] { return w.ActiveWorkerCount.load() == 0; }));
    // And one that announces a payload it never sends.
    {
        CStreamClient client(w.platform.sockets);
        ASSERT_EQ(client.Connect(w.Port()), 0);
        const uint8_t header[10] = {0x01, 0x42, 0xFF, 0xFF, 0, 0, 0, 0, 1, 2};
        ASSERT_EQ(client.SendRaw(header, sizeof header), 0);
    }
    EXPECT_TRUE(StreamListenerWorld::WaitUntil([&] { return w.ActiveWorkerCount.load() == 0; }));
}

TEST(StreamListener, APeerOtherThanLoopbackIsClosedWithoutAByte) {
    StreamListenerWorld w;
    ISockets& sockets = w.platform.sockets;
    SocketHandle s = kInvalidSocket;
    ASSERT_EQ(CreateSocket(sockets, SocketKind::Stream, s), 0);
    if (sockets.Bind(s, SockAddrIn::Inet(0x7F000002, 0)) != 0) {
        CloseSocket(sockets, s);
        GTEST_SKIP() << "127.0.0.2 is not available here";
    }
    ASSERT_EQ(sockets.Connect(s, SockAddrIn::Inet(SockAddrIn::kLoopback, w.Port())), 0);
    const uint8_t request[8] = {0x03, 0x41, 0, 0, 0, 0, 0, 0};
    SendAll(sockets, request, sizeof request, s, 1000);
    uint8_t byte = 0;
    const int rc = ReceiveExact(sockets, &byte, 1, s, 5000);
    EXPECT_TRUE(rc == WsaError::ConnReset || rc == WsaError::ConnAborted) << rc;
    CloseSocket(sockets, s);
    EXPECT_EQ(w.ActiveWorkerCount.load(), 0);
}

TEST(StreamListener, BindRetriesWhileThePortIsHeldAndStopsPromptly) {
    StreamWorld w;
    ISockets& sockets = w.platform.sockets;
    SocketHandle holder = kInvalidSocket;
    ASSERT_EQ(CreateSocket(sockets, SocketKind::Stream, holder), 0);
    ASSERT_EQ(sockets.Bind(holder, SockAddrIn::Inet(SockAddrIn::kAny, 0)), 0);
    ASSERT_EQ(sockets.Listen(holder, 1), 0);
    SockAddrIn held;
    ASSERT_EQ(sockets.GetLocalAddress(holder, held), 0);

    CStreamListener listener(w.Get(), w.handler);
    listener.m_wPort = held.port;
    std::atomic<int32_t> stop {0}, stopped {1}, workers {0};
    std::atomic<intptr_t> socket {-1};
    // Each retry round sleeps ten times 100 ms on the fake clock; stop after three rounds.
    w.platform.clock.onSleep = [&](uint32_t) {
        if (w.platform.clock.SleptMilliseconds() >= 3000) stop = 1;
    };
    EXPECT_EQ(listener.ListenerThread({stop, stopped, socket, workers}), 0);
    EXPECT_EQ(stopped.load(), 1);  // it never listened
    EXPECT_EQ(listener.m_wListeningPort.load(), 0);
    EXPECT_LE(w.platform.clock.SleptMilliseconds(), 3100u);
    CloseSocket(sockets, holder);
}

}  // namespace
}  // namespace corvane::test
