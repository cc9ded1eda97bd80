// The relay of a phone's logon request to the logon component and the status notification, on
// real loopback sockets against a scripted logon component on an ephemeral port; the re-logon
// repetition runs on the fake clock.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "channel/logon_relay.h"
#include "channel/socket_helpers.h"
#include "channel/status_notification.h"
#include "support/test_platform.h"
#include "wire/byte_order.h"
#include "wire/msg_header.h"

namespace corvane::test {
namespace {

// A logon component that answers each connection's one message with a reply whose status the
// test chooses per message, and records what it received.
class ScriptedLogonComponent {
public:
    ScriptedLogonComponent(TestPlatform& platform, std::function<uint32_t(int index)> status)
        : m_platform(platform), m_status(std::move(status)) {
        ISockets& sockets = platform.sockets;
        EXPECT_EQ(CreateSocket(sockets, SocketKind::Stream, m_listen), 0);
        EXPECT_EQ(sockets.Bind(m_listen, SockAddrIn::Inet(SockAddrIn::kLoopback, 0)), 0);
        EXPECT_EQ(sockets.Listen(m_listen, 5), 0);
        SockAddrIn local;
        sockets.GetLocalAddress(m_listen, local);
        port = local.port;
        platform.threads.CreateThread([this] { Serve(); });
    }
    ~ScriptedLogonComponent() {
        // A last connection wakes the accept; the loop then sees that it is stopping.
        m_bStopping = true;
        SocketHandle wake = kInvalidSocket;
        if (ConnectLoopback(m_platform.sockets, wake, port) == 0) CloseSocket(m_platform.sockets, wake);
        m_platform.threads.JoinAll();
        CloseSocket(m_platform.sockets, m_listen);
    }
    std::vector<std::vector<uint8_t>> Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

    uint16_t port = 0;

private:
    void Serve() {
        ISockets& sockets = m_platform.sockets;
        for (int index = 0;; ++index) {
            SocketHandle s = kInvalidSocket;
            if (sockets.Accept(m_listen, s, nullptr) != 0) return;
            if (m_bStopping) {
                CloseSocket(sockets, s);
                return;
            }
            ReplyArena arena;
            uint8_t* message = nullptr;
            size_t size = 0;
            if (ReceiveMessage(sockets, message, size, s, arena, 5000) == 0) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_received.emplace_back(message, message + size);
                }
                uint8_t reply[10];
                const uint16_t code = ReadU16(message);
                MsgHeader {static_cast<uint16_t>(code | 0x8000), 2, m_status(index)}.Encode(reply);
                reply[8] = 0x4F;
                reply[9] = 0x4B;
                SendAll(sockets, reply, sizeof reply, s, 5000);
            }
            CloseSocket(sockets, s);
        }
    }

    TestPlatform& m_platform;
    std::function<uint32_t(int)> m_status;
    SocketHandle m_listen = kInvalidSocket;
    std::atomic<bool> m_bStopping {false};
    std::mutex m_mutex;
    std::vector<std::vector<uint8_t>> m_received;
};

// A port on which nothing listens: bound once, then given back.
uint16_t FreePort(ISockets& sockets) {
    SocketHandle s = kInvalidSocket;
    CreateSocket(sockets, SocketKind::Stream, s);
    sockets.Bind(s, SockAddrIn::Inet(SockAddrIn::kLoopback, 0));
    SockAddrIn local;
    sockets.GetLocalAddress(s, local);
    CloseSocket(sockets, s);
    return local.port;
}

std::vector<uint8_t> Request(uint16_t code) {
    std::vector<uint8_t> m(12);
    MsgHeader {code, 4, 0}.Encode(m.data());
    m[8] = 1;
    m[9] = 2;
    m[10] = 3;
    m[11] = 4;
    return m;
}

class LogonRelayTest : public ::testing::Test {
protected:
    uint32_t Relay(uint16_t code, std::vector<uint8_t>* reply = nullptr) {
        const std::vector<uint8_t> request = Request(code);
        ReplyArena arena;
        uint8_t* answer = nullptr;
        size_t size = 0;
        const uint32_t rc = relay.RelayLogonRequest(u"{PHONE-1}", request.data(), request.size(), arena, answer, size);
        if (reply && answer) reply->assign(answer, answer + size);
        return rc;
    }

    TestPlatform platform;
    Configuration config;
    CLogonRelay relay {platform.Get(), config};
};

TEST_F(LogonRelayTest, WithoutTheComponentsPortTheConsoleIsNotLogonable) {
    EXPECT_EQ(Relay(0x3021), 0x20000005u);
}

TEST_F(LogonRelayTest, ARefusedConnectionIsNotListeningForALogonAndNotLogonableOtherwise) {
    config.g_wLogonPortTcp = FreePort(platform.sockets);
    EXPECT_EQ(Relay(0x3021), 259u);
    EXPECT_EQ(Relay(0x3022), 0x20000005u);
    EXPECT_EQ(Relay(0x3023), 0x20000005u);
}

TEST_F(LogonRelayTest, TheEnvelopeCarriesTheDeviceIdAndTheRequestAndTheReplyComesBack) {
    ScriptedLogonComponent component(platform, [](int) { return 0u; });
    config.g_wLogonPortTcp = component.port;
    std::vector<uint8_t> reply;
    ASSERT_EQ(Relay(0x3022, &reply), 0u);
    EXPECT_EQ(reply, (std::vector<uint8_t> {0x02, 0xD1, 2, 0, 0, 0, 0, 0, 0x4F, 0x4B}));

    const auto received = component.Received();
    ASSERT_EQ(received.size(), 1u);
    const std::vector<uint8_t>& envelope = received[0];
    ASSERT_EQ(envelope.size(), 8u + 40 + 12);
    EXPECT_EQ(ReadU16(envelope.data()), 0x5102);
    EXPECT_EQ(ReadU16(envelope.data() + 2), 52);
    EXPECT_EQ(ReadU32(envelope.data() + 4), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(envelope.data() + 8)), "{PHONE-1}");
    EXPECT_EQ(std::vector<uint8_t>(envelope.begin() + 48, envelope.end()), Request(0x3022));
}

TEST_F(LogonRelayTest, AReLogonRefusedForAnotherUsersLockIsAskedThirtyMoreTimesOnceASecond) {
    ScriptedLogonComponent component(platform, [](int) { return 0x20000022u; });
    config.g_wLogonPortTcp = component.port;
    std::vector<uint8_t> reply;
    EXPECT_EQ(Relay(0x3023, &reply), 0u);
    EXPECT_EQ(ReadU32(reply.data() + 4), 0x20000022u);
    EXPECT_EQ(component.Received().size(), 31u);
    EXPECT_EQ(platform.clock.SleptMilliseconds(), 30000u);
}

TEST_F(LogonRelayTest, TheRepetitionStopsAtTheFirstOtherAnswer) {
    ScriptedLogonComponent component(platform, [](int index) { return index < 2 ? 0x20000022u : 0u; });
    config.g_wLogonPortTcp = component.port;
    std::vector<uint8_t> reply;
    EXPECT_EQ(Relay(0x3023, &reply), 0u);
    EXPECT_EQ(ReadU32(reply.data() + 4), 0u);
    EXPECT_EQ(component.Received().size(), 3u);
}

TEST_F(LogonRelayTest, OnlyAReLogonIsRepeated) {
    ScriptedLogonComponent component(platform, [](int) { return 0x20000022u; });
    config.g_wLogonPortTcp = component.port;
    EXPECT_EQ(Relay(0x3021), 0u);
    EXPECT_EQ(component.Received().size(), 1u);
    EXPECT_EQ(platform.clock.SleptMilliseconds(), 0u);
}

TEST(StatusNotification, IsNotSentWithoutThePortAndCarriesTheRecordOtherwise) {
    TestPlatform platform;
    uint8_t status[28] = {2};
    EXPECT_EQ(SendStatusNotification(platform.sockets, 0, status, sizeof status), -1);
    EXPECT_EQ(SendStatusNotification(platform.sockets, FreePort(platform.sockets), status, sizeof status), -1);

    ScriptedLogonComponent component(platform, [](int) { return 0u; });
    EXPECT_EQ(SendStatusNotification(platform.sockets, component.port, status, sizeof status), 0);
    const auto received = component.Received();
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(received[0].size(), 36u);
    EXPECT_EQ(ReadU16(received[0].data()), 0x4102);
    EXPECT_EQ(ReadU16(received[0].data() + 2), 28);
    EXPECT_EQ(received[0][8], 2);
}

}  // namespace
}  // namespace corvane::test
