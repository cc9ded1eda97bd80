#include "channel/socket_helpers.h"

#include <gtest/gtest.h>

#include <thread>

#include "wire/msg_header.h"
#include "support/test_platform.h"
#include "support/fake_sockets.h"

namespace corvane {
namespace {

using test::FakeSockets;

struct WaitCase {
    const char* label;
    int timeoutMs;
    long expectedMicroseconds;
};

TEST(WaitSocket, SplitsTheTimeOutAndTakesTenSecondsForZeroOrLess) {
    const WaitCase cases[] = {
        {"zero means ten seconds", 0, 10000000L},
        {"negative means ten seconds", -1, 10000000L},
        {"seconds and microseconds", 1500, 1500000L},
        {"below a second", 20, 20000L},
    };
    for (const auto& c : cases) {
        FakeSockets sockets;
        EXPECT_EQ(WaitSocket(sockets, 100, SocketWait::Read, c.timeoutMs), 0) << c.label;
        ASSERT_EQ(sockets.selectTimeouts.size(), 1u) << c.label;
        EXPECT_EQ(sockets.selectTimeouts[0], c.expectedMicroseconds) << c.label;
    }
}

TEST(WaitSocket, ReportsTimeOutAndThePendingErrorOfAnExceptionalSocket) {
    FakeSockets sockets;
    sockets.selectResult = {false, false};
    EXPECT_EQ(WaitSocket(sockets, 100, SocketWait::Write, 10), WsaError::TimedOut);
    sockets.selectResult = {false, true};
    sockets.pendingError = WsaError::ConnRefused;
    EXPECT_EQ(WaitSocket(sockets, 100, SocketWait::Write, 10), WsaError::ConnRefused);
}

TEST(ReceiveExact, WithoutATimeOutReceivesWithoutSelect) {
    FakeSockets sockets;
    sockets.streamBytes = {1, 2, 3, 4, 5};
    sockets.receiveChunk = 2;
    uint8_t buffer[5] = {};
    EXPECT_EQ(ReceiveExact(sockets, buffer, 5, 100, -1), 0);
    EXPECT_EQ(sockets.receiveCalls, 3);
    EXPECT_TRUE(sockets.selectTimeouts.empty());
    EXPECT_EQ(buffer[4], 5);
}

TEST(ReceiveExact, InvalidSocketAndClosedPeer) {
    FakeSockets sockets;
    uint8_t buffer[4];
    EXPECT_EQ(ReceiveExact(sockets, buffer, 4, 0, 100), WsaError::NotSock);
    EXPECT_EQ(ReceiveExact(sockets, buffer, 4, kInvalidSocket, 100), WsaError::NotSock);
    sockets.streamBytes = {1, 2};
    EXPECT_EQ(ReceiveExact(sockets, buffer, 4, 100, 100), WsaError::ConnReset);
}

TEST(ReceiveMessage, EmptyPayloadGivesTenZeroedBytesAndSizeEight) {
    FakeSockets sockets;
    sockets.streamBytes = {0x01, 0x40, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00};
    ReplyArena arena;
    uint8_t* message = nullptr;
    size_t size = 0;
    ASSERT_EQ(ReceiveMessage(sockets, message, size, 100, arena, 1000), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(arena.BlockCount(), 1u);
    EXPECT_EQ(MsgHeader::Decode(message, size)->code, 0x4001);
    EXPECT_EQ(message[8], 0);
    EXPECT_EQ(message[9], 0);
}

TEST(ReceiveMessage, PayloadIsFollowedByTwoZeroBytesAndAShortOneLeavesNothingInTheArena) {
    FakeSockets sockets;
    sockets.streamBytes = {0x13, 0x30, 0x03, 0x00, 0, 0, 0, 0, 'a', 'b', 'c'};
    ReplyArena arena;
    uint8_t* message = nullptr;
    size_t size = 0;
    ASSERT_EQ(ReceiveMessage(sockets, message, size, 100, arena, -1), 0);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(message + 8)), "abc");

    sockets.streamBytes = {0x13, 0x30, 0x05, 0x00, 0, 0, 0, 0, 'a'};
    EXPECT_EQ(ReceiveMessage(sockets, message, size, 100, arena, -1), WsaError::ConnReset);
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(arena.BlockCount(), 1u);  // only the first message's block
}

TEST(SendDatagram, ClosesItsSocketOnEveryPath) {
    FakeSockets sockets;
    const uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(SendDatagram(sockets, data, sizeof data, u"127.0.0.1", 0), 0);
    EXPECT_EQ(SendDatagram(sockets, data, sizeof data, u"not an address", 45452), WsaError::Inval);
    EXPECT_EQ(sockets.OpenSockets(), 0u);
    ASSERT_EQ(sockets.Sent().size(), 1u);
    EXPECT_EQ(sockets.Sent()[0].to, SockAddrIn::Inet(SockAddrIn::kLoopback, 0));
}

TEST(SendDatagram, StartsWindowsSocketsWhenNotInitialised) {
    FakeSockets sockets;
    sockets.requireStartup = true;
    const uint8_t data[] = {1};
    EXPECT_EQ(SendDatagram(sockets, data, 1, u"10.0.0.1", 45452), 0);
    EXPECT_EQ(sockets.references, 1);
}

TEST(ResolveHost, DottedTextSkipsTheResolverAndNamesGoThroughIt) {
    FakeSockets sockets;
    sockets.requireStartup = true;
    SockAddrIn address;
    ASSERT_EQ(ResolveHost(sockets, u"10.1.2.3", address), 0);
    EXPECT_EQ(address.address, 0x0A010203u);
    EXPECT_EQ(sockets.resolveCalls, 0);
    ASSERT_EQ(ResolveHost(sockets, u"localhost", address), 0);
    EXPECT_EQ(address.address, SockAddrIn::kLoopback);
    EXPECT_EQ(ResolveHost(sockets, u"nowhere", address), WsaError::HostNotFound);
}

// Real loopback sockets on ephemeral ports.
class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override { sockets.Startup(); }
    void TearDown() override {
        for (SocketHandle s : m_opened) CloseSocket(sockets, s);
        sockets.Cleanup();
    }
    SocketHandle Open(SocketKind kind) {
        SocketHandle s = kInvalidSocket;
        EXPECT_EQ(sockets.Create(kind, s), 0);
        m_opened.push_back(s);
        return s;
    }
    uint16_t BindLoopback(SocketHandle s) {
        EXPECT_EQ(sockets.Bind(s, SockAddrIn::Inet(SockAddrIn::kLoopback, 0)), 0);
        SockAddrIn local;
        EXPECT_EQ(sockets.GetLocalAddress(s, local), 0);
        return local.port;
    }

    test::TestSockets sockets;
    std::vector<SocketHandle> m_opened;
};

TEST_F(LoopbackTest, ConnectLoopbackIsRefusedWhereNothingListens) {
    // A bound but not listening port refuses connections.
    const uint16_t port = BindLoopback(Open(SocketKind::Stream));
    SocketHandle s = 12345;
    EXPECT_EQ(ConnectLoopback(sockets, s, port), WsaError::ConnRefused);
    EXPECT_EQ(s, kInvalidSocket);
}

TEST_F(LoopbackTest, ConnectedStreamCarriesAFramedMessageBothWays) {
    SocketHandle listener = Open(SocketKind::Stream);
    const uint16_t port = BindLoopback(listener);
    ASSERT_EQ(sockets.Listen(listener, 4), 0);
    SocketHandle client = kInvalidSocket;
    ASSERT_EQ(ConnectLoopback(sockets, client, port), 0);
    m_opened.push_back(client);
    SocketHandle server = kInvalidSocket;
    ASSERT_EQ(sockets.Accept(listener, server, nullptr), 0);
    m_opened.push_back(server);

    std::vector<uint8_t> message(8 + 3000, 0x5A);
    MsgHeader {0x5102, 3000, 0}.Encode(message.data());
    ASSERT_EQ(SendAll(sockets, message.data(), message.size(), client, 1000), 0);
    ReplyArena arena;
    uint8_t* received = nullptr;
    size_t size = 0;
    ASSERT_EQ(ReceiveMessage(sockets, received, size, server, arena, 1000), 0);
    ASSERT_EQ(size, message.size());
    EXPECT_EQ(std::vector<uint8_t>(received, received + size), message);
}

TEST_F(LoopbackTest, ReceiveExactTimesOutOnSilence) {
    SocketHandle listener = Open(SocketKind::Stream);
    const uint16_t port = BindLoopback(listener);
    ASSERT_EQ(sockets.Listen(listener, 4), 0);
    SocketHandle client = kInvalidSocket;
    ASSERT_EQ(ConnectLoopback(sockets, client, port), 0);
    m_opened.push_back(client);
    uint8_t buffer[4];
    EXPECT_EQ(ReceiveExact(sockets, buffer, sizeof buffer, client, 30), WsaError::TimedOut);
}

TEST_F(LoopbackTest, SendDatagramReachesAReceiver) {
    SocketHandle receiver = Open(SocketKind::Datagram);
    const uint16_t port = BindLoopback(receiver);
    const uint8_t data[] = {0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0};
    ASSERT_EQ(SendDatagram(sockets, data, sizeof data, u"127.0.0.1", port), 0);
    ASSERT_EQ(sockets.SetReceiveTimeout(receiver, 2000), 0);
    uint8_t buffer[64];
    size_t received = 0;
    SockAddrIn from;
    ASSERT_EQ(sockets.ReceiveFrom(receiver, buffer, sizeof buffer, received, from), 0);
    EXPECT_EQ(received, sizeof data);
    EXPECT_EQ(from.address, SockAddrIn::kLoopback);
}

}  // namespace
}  // namespace corvane
