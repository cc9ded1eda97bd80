// A phone device's presence: the link check and its probe, the offline tests of a lost phone at
// the period they run, the device's end after the linger, and the signal-strength away test.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "device/cdev_bth.h"
#include "device/device_map.h"
#include "support/fake_ble_library.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

// The session side: every action answers `outcome`; the calls are recorded.
class RecordingSessions final : public IDeviceSessions {
public:
    struct Call {
        bool away;
        std::u16string user;
        uint32_t tick;
        uint32_t lossTick;
    };
    explicit RecordingSessions(FakeClock& clock) : m_clock(clock) {}

    SessionMatch OfflineAction(CLogonOpt& option, const CDevTovrel&, uint32_t lossTick) override {
        return Record({false, option.m_strUser, m_clock.GetTickCount(), lossTick}, option);
    }
    SessionMatch AwayAction(CLogonOpt& option, const CDevTovrel&) override {
        return Record({true, option.m_strUser, m_clock.GetTickCount(), 0}, option);
    }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    SessionMatch outcome = SessionMatch::ActionPending;

private:
    SessionMatch Record(Call call, CLogonOpt& option) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(std::move(call));
        if (outcome == SessionMatch::ActionDone) option.m_bHandled = 1;
        return outcome;
    }
    FakeClock& m_clock;
    std::mutex m_mutex;
    std::vector<Call> m_calls;
};

class BthPresenceTest : public ::testing::Test {
protected:
    BthPresenceTest() {
        OpenServiceMutexes(tp.Get(), config);
        tp.clock.SetTick(50000);
        connection.m_hDevice = ble.AddPhone();
        connection.m_strDeviceId = u"phone-1";
        connection.m_strDeviceName = u"Field phone";
        device = std::make_unique<CDevBth>(BthDeviceEnv {tp.Get(), config, workerHost, &ble, &sessions}, connection);
    }
    ~BthPresenceTest() override {
        device.reset();
        tp.threads.JoinAll();
    }
    uint64_t Active() const { return connection.m_hDevice + 2; }
    size_t OptionCount() { return device->CopyLogonOptions().size(); }

    TestPlatform tp;
    Configuration config;
    DeviceMap devices {config};
    std::atomic<int32_t> workers {0};
    DeviceWorkerHost workerHost {tp.threads, devices, workers};
    FakeBleLibrary ble;
    RecordingSessions sessions {tp.clock};
    BleConnection connection;
    BleConnection secondLink;  // a later link of the same phone; outlives the device
    std::unique_ptr<CDevBth> device;
};

TEST_F(BthPresenceTest, APresentPhoneIsProbedEveryThreeSecondsAndAStrayByteIsSwallowed) {
    device->AddLogonOption(u"alice", u"CORP", LogonOption::LockWhenOffline, 10);
    tp.clock.Advance(2999);
    EXPECT_EQ(device->OfflineCheck(), 0u);
    tp.clock.Advance(1);
    ble.Feed(Active(), {0x5A});
    EXPECT_EQ(device->OfflineCheck(), 0u);
    EXPECT_TRUE(device->IsPresent());
    // The byte was read by the probe: a read now finds the channel quiet.
    uint8_t byte = 0;
    uint64_t length = 1;
    EXPECT_EQ(ble.ReadChannel(Active(), &byte, &length, 1), kBleTimedOut);
    EXPECT_TRUE(sessions.Calls().empty());
    EXPECT_EQ(device->GetLossTick(), 0u);
}

TEST_F(BthPresenceTest, AClosedActiveChannelClosesThePhoneAndTheOfflineTestsRunEverySecond) {
    device->AddLogonOption(u"alice", u"CORP", LogonOption::LockWhenOffline, 10);
    device->AddLogonOption(u"bob", u"CORP", LogonOption::LogoffWhenOffline, 10);
    tp.clock.Advance(3000);
    ASSERT_EQ(device->OfflineCheck(), 0u);  // opens the active channel
    ble.CloseChannel(Active());
    tp.clock.Advance(3000);
    const uint32_t lostAt = tp.clock.GetTickCount();
    EXPECT_EQ(device->OfflineCheck(), 0u);
    EXPECT_FALSE(device->IsConnected());
    EXPECT_TRUE(ble.WaitClosed(connection.m_hDevice));
    // The closing thread counts as busy until it ends, and nothing is checked while busy.
    tp.threads.JoinAll();
    auto calls = sessions.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].user, u"bob");  // last to first
    EXPECT_EQ(calls[1].user, u"alice");
    // The loss is marked when it happened, never later: a loss tick ahead of the clock would make
    // the time since the loss wrap round and every delay pass at once (lostAt is even here).
    EXPECT_EQ(calls[0].lossTick, lostAt);
    EXPECT_EQ(lostAt % 2, 0u);

    // Lost with options: the next tests come a second later, not before.
    tp.clock.Advance(999);
    device->OfflineCheck();
    EXPECT_EQ(sessions.Calls().size(), 2u);
    tp.clock.Advance(1);
    sessions.outcome = SessionMatch::ActionDone;
    EXPECT_EQ(device->OfflineCheck(), 0u);
    EXPECT_EQ(sessions.Calls().size(), 4u);
    EXPECT_EQ(OptionCount(), 0u);

    // With both options acted on, the device's life ends a little over 30 s after the loss.
    tp.clock.SetTick(lostAt + kBthLingerMilliseconds - 1000);
    EXPECT_EQ(device->OfflineCheck(), 0u);
    tp.clock.SetTick(lostAt + kBthLingerMilliseconds + 1000);
    EXPECT_EQ(device->OfflineCheck(), 1u);
}

TEST_F(BthPresenceTest, TheChannelOfAHandleThePhoneNoLongerUsesIsDroppedNotProbed) {
    tp.clock.Advance(3000);
    ASSERT_EQ(device->OfflineCheck(), 0u);  // opens the active channel of the first link
    BleConnection& second = secondLink;
    second.m_hDevice = ble.AddPhone();
    second.m_strDeviceId = u"phone-1";
    device->Rebind(second, u"Field phone");
    // The old link's handle is given back, which ends its channels.
    ASSERT_TRUE(ble.WaitClosed(connection.m_hDevice));
    tp.threads.JoinAll();
    tp.clock.Advance(3000);
    EXPECT_EQ(device->OfflineCheck(), 0u);
    EXPECT_TRUE(device->IsConnected());
    EXPECT_EQ(device->GetBleDevice(), second.m_hDevice);
    EXPECT_FALSE(ble.WasClosed(second.m_hDevice));
}

TEST_F(BthPresenceTest, APhoneThatStaysReachableIsNeverLost) {
    // A phone without options that stays reachable never ends.
    for (int i = 0; i < 20; ++i) {
        tp.clock.Advance(kBthLingerMilliseconds);
        EXPECT_EQ(device->OfflineCheck(), 0u);
    }
    EXPECT_TRUE(device->IsConnected());
    EXPECT_TRUE(sessions.Calls().empty());
}

// The signal-strength away test of an option with threshold -70 and delay 10 s.
TEST_F(BthPresenceTest, TheAwayTestFollowsTheSamplesAndTheirSilence) {
    struct Step {
        uint32_t at;   // ms after the option was made
        int16_t rssi;  // 0: no sample
    };
    struct Case {
        const char* name;
        std::vector<Step> samples;
        uint32_t checkAt;
        bool away;
    };
    const std::vector<Case> cases = {
        {"weak for more than the delay", {{1000, -75}, {5000, -75}}, 11001, true},
        {"weak for less than the delay", {{1000, -75}, {5000, -75}}, 10999, false},
        {"a strong sample clears the mark", {{1000, -75}, {6000, -65}, {8000, -75}}, 17000, false},
        {"strong samples keep it", {{1000, -65}, {20000, -60}}, 40000, false},
        {"no sample for more than 30 s", {{1000, -65}}, 31001, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform platform;
        platform.clock.SetTick(10000);
        RecordingSessions recorder {platform.clock};
        BleConnection link;
        link.m_hDevice = ble.AddPhone();
        link.m_strDeviceId = u"phone-2";
        {
            CDevBth phone(BthDeviceEnv {platform.Get(), config, workerHost, &ble, &recorder}, link);
            phone.AddLogonOption(u"alice", u"CORP", -70, 10);
            const uint32_t start = platform.clock.GetTickCount();
            for (const Step& s : c.samples) {
                platform.clock.SetTick(start + s.at);
                phone.OnSignalSample(s.rssi);
                phone.AwayChecks();
            }
            platform.clock.SetTick(start + c.checkAt);
            phone.AwayChecks();
            const auto calls = recorder.Calls();
            EXPECT_EQ(!calls.empty(), c.away);
            for (const auto& call : calls) EXPECT_TRUE(call.away);
        }
        platform.threads.JoinAll();
    }
}

// The worker's rounds on the fake clock: the phone's passive channel ends at some moment between
// two link checks (waking the worker, as a close does), and the offline tests run at the very
// tick the option's delay ends, not at the next beat of the once-a-second checks.
TEST_F(BthPresenceTest, ALostPhonesOfflineTestRunsWhenTheDelayEnds) {
    for (const uint32_t closeAfter : {3400u, 4999u, 6001u, 7777u}) {
        SCOPED_TRACE(closeAfter);
        TestPlatform platform;
        platform.clock.SetTick(10000);
        // The BLE handle is then given back on the calling thread, with the clock standing.
        platform.threads.failCreate = true;
        RecordingSessions recorder {platform.clock};
        BleConnection link;
        link.m_hDevice = ble.AddPhone();
        link.m_strDeviceId = u"phone-3";
        CDevBth phone(BthDeviceEnv {platform.Get(), config, workerHost, &ble, &recorder}, link);
        phone.AddLogonOption(u"alice", u"CORP", LogonOption::LockWhenOffline, 10);
        const uint32_t start = platform.clock.GetTickCount();
        const uint32_t closeAt = start + closeAfter;
        bool closed = false;
        while (TicksSince(platform.clock.GetTickCount(), start) < closeAfter + 12000) {
            phone.AwayChecks();
            ASSERT_EQ(phone.OfflineCheck(), 0u);
            const uint32_t wait = phone.NextWait();
            const uint32_t now = platform.clock.GetTickCount();
            if (!closed && TicksSince(closeAt, now) < wait) {
                platform.clock.SetTick(closeAt);
                phone.CloseIfDevice(link.m_hDevice);
                closed = true;
                continue;
            }
            platform.clock.Advance(wait);
        }
        std::vector<uint32_t> ticks;
        for (const auto& call : recorder.Calls()) {
            EXPECT_EQ(call.lossTick, closeAt);
            ticks.push_back(call.tick - closeAt);
        }
        EXPECT_NE(std::find(ticks.begin(), ticks.end(), 10000u), ticks.end()) << ::testing::PrintToString(ticks);
        platform.threads.JoinAll();
    }
}

// A delay beyond what the tick count can measure (here 49.7 days and a second, whose
// milliseconds wrap 32 bits to 704) never makes the away test fire early, nor shortens the
// worker's sleep; the longest measurable delay stands in for it.
TEST_F(BthPresenceTest, ADelayBeyondTheTickRangeNeverFiresEarly) {
    EXPECT_EQ(DelayMilliseconds(4294968), kLongestDelayMilliseconds);
    EXPECT_EQ(DelayMilliseconds(0x7FFFFFFF), kLongestDelayMilliseconds);
    EXPECT_EQ(DelayMilliseconds(10), 10000u);
    EXPECT_EQ(DelayMilliseconds(-5), 0u);
    CLogonOpt option;
    option.m_nOption = -70;
    option.m_nDelay = 4294968;
    const uint32_t since = 0x40000000;
    option.m_dwAwaySince = since;
    option.m_dwLastSample = since;
    struct Case {
        uint32_t after;
        bool away;
    } cases[] = {{705, false}, {31000, false}, {kLongestDelayMilliseconds, false}, {kLongestDelayMilliseconds + 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        EXPECT_EQ(OptionIsAway(option, since + c.after), c.away);
    }
    EXPECT_EQ(AwayDelayLeft(option, since + 1000), kLongestDelayMilliseconds - 1000 + 1);

    device->AddLogonOption(u"alice", u"CORP", -70, 4294968);
    device->OnSignalSample(-75);
    tp.clock.Advance(1000);
    device->AwayChecks();
    EXPECT_TRUE(sessions.Calls().empty());
    EXPECT_EQ(device->NextWait(), kBthCycleMilliseconds);
}

}  // namespace
}  // namespace corvane::test
