// The POSIX form of Windows Sockets: error codes as Windows reports them, and draining by the
// last clean-up.
#include "platform/posix/posix_sockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>

#include "platform/posix/posix_socket_errors.h"

namespace corvane {
namespace {

using posix::PosixSockets;

class PosixSocketsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(sockets.Startup(), 0); }
    void TearDown() override {
        for (SocketHandle s : m_opened) sockets.Close(s);
        while (sockets.Cleanup() == 0) {
        }
    }
    SocketHandle BoundDatagram() {
        SocketHandle s = kInvalidSocket;
        EXPECT_EQ(sockets.Create(SocketKind::Datagram, s), 0);
        EXPECT_EQ(sockets.Bind(s, SockAddrIn::Inet(SockAddrIn::kLoopback, 0)), 0);
        m_opened.push_back(s);
        return s;
    }
    uint16_t PortOf(SocketHandle s) {
        SockAddrIn local;
        EXPECT_EQ(sockets.GetLocalAddress(s, local), 0);
        return local.port;
    }

    PosixSockets sockets;
    std::vector<SocketHandle> m_opened;
};

TEST_F(PosixSocketsTest, NoSocketBeforeStartup) {
    PosixSockets fresh;
    SocketHandle s = 7;
    EXPECT_EQ(fresh.Create(SocketKind::Datagram, s), WsaError::NotInitialised);
    EXPECT_EQ(s, kInvalidSocket);
    EXPECT_EQ(fresh.Cleanup(), WsaError::NotInitialised);
}

TEST_F(PosixSocketsTest, BlockedReceiveFromReturnsIntrOnceTheLastReferenceIsReleased) {
    const SocketHandle s = BoundDatagram();
    ASSERT_EQ(sockets.Startup(), 0);  // two references: the first release must not drain
    auto blocked = std::async(std::launch::async, [&] {
        uint8_t buffer[16];
        size_t received = 0;
        SockAddrIn from;
        return sockets.ReceiveFrom(s, buffer, sizeof buffer, received, from);
    });
    EXPECT_EQ(sockets.Cleanup(), 0);
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(sockets.Cleanup(), 0);
    ASSERT_EQ(blocked.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(blocked.get(), WsaError::Intr);
    EXPECT_EQ(sockets.Cleanup(), WsaError::NotInitialised);
}

TEST_F(PosixSocketsTest, BlockedAcceptReturnsIntrWhenDrained) {
    SocketHandle listener = kInvalidSocket;
    ASSERT_EQ(sockets.Create(SocketKind::Stream, listener), 0);
    m_opened.push_back(listener);
    ASSERT_EQ(sockets.Bind(listener, SockAddrIn::Inet(SockAddrIn::kLoopback, 0)), 0);
    ASSERT_EQ(sockets.Listen(listener, 4), 0);
    auto blocked = std::async(std::launch::async, [&] {
        SocketHandle client = kInvalidSocket;
        return sockets.Accept(listener, client, nullptr);
    });
    EXPECT_EQ(sockets.Cleanup(), 0);
    ASSERT_EQ(blocked.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(blocked.get(), WsaError::Intr);
}

TEST_F(PosixSocketsTest, ReceiveTimeOutIsTimedOutAndANonBlockingSocketWouldBlock) {
    const SocketHandle s = BoundDatagram();
    uint8_t buffer[16];
    size_t received = 0;
    SockAddrIn from;
    ASSERT_EQ(sockets.SetReceiveTimeout(s, 20), 0);
    EXPECT_EQ(sockets.ReceiveFrom(s, buffer, sizeof buffer, received, from), WsaError::TimedOut);
    ASSERT_EQ(sockets.SetNonBlocking(s, true), 0);
    EXPECT_EQ(sockets.ReceiveFrom(s, buffer, sizeof buffer, received, from), WsaError::WouldBlock);
}

TEST_F(PosixSocketsTest, AnEmptyDatagramIsZeroBytesNotAnError) {
    const SocketHandle receiver = BoundDatagram();
    const SocketHandle sender = BoundDatagram();
    size_t sent = 1;
    ASSERT_EQ(sockets.SendTo(sender, "", 0, SockAddrIn::Inet(SockAddrIn::kLoopback, PortOf(receiver)), sent), 0);
    ASSERT_EQ(sockets.SetReceiveTimeout(receiver, 2000), 0);
    uint8_t buffer[16];
    size_t received = 99;
    SockAddrIn from;
    EXPECT_EQ(sockets.ReceiveFrom(receiver, buffer, sizeof buffer, received, from), 0);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(from.port, PortOf(sender));
}

TEST_F(PosixSocketsTest, ANonBlockingConnectToAClosedPortFailsThroughTheExceptionSet) {
    SocketHandle closed = kInvalidSocket;
    ASSERT_EQ(sockets.Create(SocketKind::Stream, closed), 0);
    m_opened.push_back(closed);
    ASSERT_EQ(sockets.Bind(closed, SockAddrIn::Inet(SockAddrIn::kLoopback, 0)), 0);
    SocketHandle s = kInvalidSocket;
    ASSERT_EQ(sockets.Create(SocketKind::Stream, s), 0);
    m_opened.push_back(s);
    ASSERT_EQ(sockets.SetNonBlocking(s, true), 0);
    const int rc = sockets.Connect(s, SockAddrIn::Inet(SockAddrIn::kLoopback, PortOf(closed)));
    ASSERT_TRUE(rc == WsaError::WouldBlock || rc == WsaError::ConnRefused) << rc;
    if (rc == WsaError::WouldBlock) {
        SelectResult result;
        ASSERT_EQ(sockets.Select(s, SocketWait::Write, 5, 0, result), 0);
        EXPECT_TRUE(result.exceptional);
        int pending = 0;
        ASSERT_EQ(sockets.GetPendingError(s, pending), 0);
        EXPECT_EQ(pending, WsaError::ConnRefused);
    }
}

TEST_F(PosixSocketsTest, BindingAPortInUseIsAddrInUse) {
    const SocketHandle first = BoundDatagram();
    SocketHandle second = kInvalidSocket;
    ASSERT_EQ(sockets.Create(SocketKind::Datagram, second), 0);
    m_opened.push_back(second);
    EXPECT_EQ(sockets.Bind(second, SockAddrIn::Inet(SockAddrIn::kLoopback, PortOf(first))), WsaError::AddrInUse);
}

TEST(PosixSocketErrors, ErrnoValuesMapToWindowsSocketsCodes) {
    const std::pair<int, int> cases[] = {
        {0, 0},
        {EINTR, WsaError::Intr},
        {EBADF, WsaError::NotSock},
        {EAGAIN, WsaError::WouldBlock},
        {EINPROGRESS, WsaError::WouldBlock},
        {EADDRINUSE, WsaError::AddrInUse},
        {ECONNRESET, WsaError::ConnReset},
        {EPIPE, WsaError::ConnReset},
        {ETIMEDOUT, WsaError::TimedOut},
        {ECONNREFUSED, WsaError::ConnRefused},
        {EMSGSIZE, WsaError::MsgSize},
        {ENOTCONN, WsaError::NotConn},
        {EHOSTUNREACH, WsaError::HostUnreach},
        {ENOSYS, WsaError::SysCallFailure},
    };
    for (const auto& [err, wsa] : cases) EXPECT_EQ(posix::ErrnoToWsaError(err), wsa) << "errno " << err;
}

}  // namespace
}  // namespace corvane
