// The receive thread: socket set-up, bind retries, housekeeping on the clock, and the stop.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "channel/socket_helpers.h"
#include "channel_world.h"
#include "lan_messages.h"
#include "support/test_platform.h"

namespace corvane {
namespace {

using test::FakeSockets;

class DatagramThreadTest : public ::testing::Test {
protected:
    int Run() { return w.channel.ReceiveThread({m_bStop, m_bUdpStopped, m_sockUdp}); }
    FakeSockets::ReceiveStep Announce(const std::string& id, uint32_t advanceMs) {
        FakeSockets::ReceiveStep step;
        step.before = [this, advanceMs] { w.platform.clock.Advance(advanceMs); };
        step.data = lan::BuildPresence(Contract::kPresence, 45452, 0, id, id);
        return step;
    }
    FakeSockets::ReceiveStep Failure(int error, uint32_t advanceMs) {
        FakeSockets::ReceiveStep step;
        step.before = [this, advanceMs] { w.platform.clock.Advance(advanceMs); };
        step.error = error;
        return step;
    }
    bool Listed(const char16_t* id) { return w.table.WithNetDevice(id, [](const CDevNet&) {}); }

    test::ChannelWorld w;
    std::atomic<int32_t> m_bStop {0};
    std::atomic<int32_t> m_bUdpStopped {1};
    std::atomic<intptr_t> m_sockUdp {-1};
};

TEST_F(DatagramThreadTest, SocketThatCannotBeMadeOrConfiguredEndsTheThreadWithItsError) {
    w.sockets.createError = WsaError::AfNoSupport;
    EXPECT_EQ(Run(), WsaError::AfNoSupport);
    EXPECT_EQ(m_bUdpStopped, 0);

    w.sockets.createError = 0;
    w.sockets.receiveTimeoutError = WsaError::Inval;
    EXPECT_EQ(Run(), WsaError::Inval);
    EXPECT_EQ(m_bUdpStopped, 0);
    EXPECT_EQ(w.sockets.OpenSockets(), 0u);
}

TEST_F(DatagramThreadTest, StartsWindowsSocketsWhenNotInitialised) {
    w.sockets.requireStartup = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(w.sockets.references, 1);
    EXPECT_EQ(m_bUdpStopped, 1);
    EXPECT_NE(m_sockUdp, -1);
}

TEST_F(DatagramThreadTest, DrainedSocketEndsTheLoopClosesTheSocketAndSetsTheFlag) {
    w.sockets.script.push_back(Announce("phone-1", 0));
    // The script ends with WSAEINTR, as a receive drained by the stop sequence does.
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(m_bUdpStopped, 1);
    EXPECT_EQ(w.sockets.OpenSockets(), 0u);
    EXPECT_TRUE(Listed(u"phone-1"));
}

TEST_F(DatagramThreadTest, OtherReceiveErrorsAreIgnored) {
    w.sockets.script.push_back(Failure(WsaError::ConnReset, 0));
    w.sockets.script.push_back(Failure(WsaError::MsgSize, 0));
    w.sockets.script.push_back(Announce("phone-1", 0));
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(Listed(u"phone-1"));
}

TEST_F(DatagramThreadTest, AReceiveTimeOutRunsTheAgeingPass) {
    w.sockets.script.push_back(Announce("phone-1", 0));
    w.sockets.script.push_back(Failure(WsaError::TimedOut, 14000));
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(Listed(u"phone-1"));
}

TEST_F(DatagramThreadTest, ContinuousTrafficAgesAtLeastEveryFourSeconds) {
    // A announces once; B keeps talking every second, so the receive never times out.
    w.sockets.script.push_back(Announce("phone-a", 0));
    for (int i = 0; i < 18; ++i) w.sockets.script.push_back(Announce("phone-b", 1000));
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(Listed(u"phone-a"));
    EXPECT_TRUE(Listed(u"phone-b"));
}

TEST_F(DatagramThreadTest, HousekeepingFollowsTheClockWhenItIsSetBack) {
    w.sockets.script.push_back(Announce("phone-a", 0));
    FakeSockets::ReceiveStep back = Announce("phone-b", 0);
    back.before = [this] { w.platform.clock.SetSystemTime(w.platform.clock.GetSystemTimeAsFileTime() - 3600LL * 10000000); };
    w.sockets.script.push_back(back);
    for (int i = 0; i < 20; ++i) w.sockets.script.push_back(Announce("phone-b", 1000));
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(Listed(u"phone-a")) << "an hour back in time, ageing still ran under traffic";
    EXPECT_TRUE(Listed(u"phone-b"));
}

TEST_F(DatagramThreadTest, BindRetriesEverySecondAndStopsPromptlyWhenTheServiceStops) {
    w.sockets.bindError = WsaError::AddrInUse;
    auto thread = std::async(std::launch::async, [this] { return Run(); });
    // The fake clock's sleeps return at once; wait (bounded) for three rounds of ten steps.
    for (int i = 0; i < 5000 && w.platform.clock.SleepCount() < 30; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(w.platform.clock.SleepCount(), 30u);
    m_bStop = 1;
    ASSERT_EQ(thread.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(thread.get(), 0);
    EXPECT_EQ(m_bUdpStopped, 1);
    EXPECT_EQ(w.sockets.OpenSockets(), 0u);
    EXPECT_EQ(w.platform.clock.SleptMilliseconds(), w.platform.clock.SleepCount() * 100);
}

// The thread on real loopback sockets: a datagram sent to its port is handled, and releasing
// the last Windows Sockets reference stops it at once.
TEST(DatagramThreadLoopback, HandlesAPresenceDatagramAndStopsWhenSocketsAreDrained) {
    test::ChannelWorld w;
    test::TestSockets sockets;
    w.Get().sockets = &sockets;
    ASSERT_EQ(sockets.Startup(), 0);
    w.channel.m_wPort = 0;  // an ephemeral port; the command port is exercised in its own namespace
    std::atomic<int32_t> stop {0}, stopped {1};
    std::atomic<intptr_t> sock {-1};
    auto thread = std::async(std::launch::async, [&] { return w.channel.ReceiveThread({stop, stopped, sock}); });

    SockAddrIn local;
    for (int i = 0; i < 5000 && (sock == -1 || sockets.GetLocalAddress(sock, local) != 0 || local.port == 0); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(local.port, 0);
    const auto presence = lan::BuildPresence(Contract::kPresence, 45452, 7, "phone-1", "Phone");
    for (int i = 0; i < 5000 && w.table.Count() == 0; ++i) {
        if (i % 500 == 0) {
            ASSERT_EQ(SendDatagram(sockets, presence.data(), presence.size(), u"127.0.0.1", local.port), 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(w.table.WithNetDevice(u"phone-1", [](const CDevNet& d) { EXPECT_EQ(d.m_strAddress, u"127.0.0.1"); }));

    stop = 1;
    while (sockets.Cleanup() == 0) {
    }
    ASSERT_EQ(thread.wait_for(std::chrono::milliseconds(900)), std::future_status::ready)
        << "the drained receive must end the loop before its one-second time-out";
    EXPECT_EQ(thread.get(), 0);
    EXPECT_EQ(stopped, 1);
}

}  // namespace
}  // namespace corvane
