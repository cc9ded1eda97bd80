// The card-removal loop of the reader device on a fake resource manager and the fake clock:
// removal runs the offline tests, the same card back resumes watching, another card, a mute card
// or a swap does not, a stop cancels the wait, and a resource manager that dies and comes back
// costs a removal but never a held context or a spinning worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/cdev_pcsc.h"
#include "device/reader_name.h"
#include "support/fake_smart_cards.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

const std::u16string kReader = u"Virtual PCD 00 00";
const TokenSerial kSerialA = {'0', '0', '1', '1', '2', '2', '3', '3', '4', '4', '5', '5', '6', '6', '7', '7'};
const TokenSerial kSerialB = {'8', '8', '9', '9', 'a', 'a', 'b', 'b', 'c', 'c', 'd', 'd', 'e', 'e', 'f', 'f'};

bool WaitUntil(const std::function<bool()>& done, int boundMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The token in each reader, as the token layer would read it; a reader absent here has none.
class FakeIdentities final : public ICardIdentitySource {
public:
    bool ReadTokenSerial(std::u16string_view reader, TokenSerial& serial) override {
        if (onRead) onRead();
        std::lock_guard<std::mutex> lock(m_mutex);
        ++reads;
        auto it = m_tokens.find(std::u16string(reader));
        if (it == m_tokens.end()) return false;
        serial = it->second;
        return true;
    }
    void Put(const std::u16string& reader, const TokenSerial& serial) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tokens[reader] = serial;
    }
    void Take(const std::u16string& reader) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tokens.erase(reader);
    }
    std::atomic<int> reads {0};
    // Called on the reading thread before each read (set before the worker runs).
    std::function<void()> onRead;

private:
    std::mutex m_mutex;
    std::map<std::u16string, TokenSerial> m_tokens;
};

// The session side: answers every offline action with `outcome` and records the calls.
class FakeDeviceSessions final : public IDeviceSessions {
public:
    SessionMatch OfflineAction(CLogonOpt& option, const CDevTovrel& device, uint32_t lossTick) override {
        if (onAction) onAction(lossTick);
        std::lock_guard<std::mutex> lock(m_mutex);
        lossTicks.push_back(lossTick);
        users.push_back(option.m_strUser);
        ++calls;
        if (outcome != SessionMatch::None) option.m_bHandled = 1;
        return outcome;
    }
    SessionMatch AwayAction(CLogonOpt&, const CDevTovrel&) override { return SessionMatch::None; }
    std::vector<uint32_t> LossTicks() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return lossTicks;
    }
    std::atomic<SessionMatch> outcome {SessionMatch::ActionPending};
    // Runs on the worker at the start of every offline action (set before the worker starts).
    std::function<void(uint32_t lossTick)> onAction;
    std::atomic<int> calls {0};
    std::vector<uint32_t> lossTicks;
    std::vector<std::u16string> users;

private:
    std::mutex m_mutex;
};

class CDevPCSCTest : public ::testing::Test {
protected:
    CDevPCSCTest() {
        OpenServiceMutexes(tp.Get(), config);
        cards.AddReader(kReader);
        cards.Insert(kReader);
        identities.Put(kReader, kSerialA);
    }
    ~CDevPCSCTest() override {
        for (CDevTovrel* d : started) d->RequestStop();
        tp.threads.JoinAll();
    }

    // A device for card A in the reader with one option, in the map, its worker running and
    // waiting on the card.
    CDevPCSC* Watch(int32_t option = LogonOption::LockWhenOffline, int32_t delay = 0,
                    const std::u16string& reader = kReader) {
        CDevPCSC* device = CDevPCSC::Create(services, reader, CardDeviceId(kSerialA));
        EXPECT_NE(device, nullptr);
        devices.Add(device);
        device->AddLogonOption(u"anna", u"CONTOSO", option, delay);
        device->StartWorker();
        started.push_back(device);
        EXPECT_TRUE(cards.WaitForWaiters(1));
        return device;
    }
    bool Ended(const std::u16string& id) {
        return WaitUntil([&] { return active.load() == 0; }) && devices.Find(id) == nullptr;
    }
    // The lines the device wrote, after the time stamp's place.
    std::vector<std::u16string> Lines() {
        std::lock_guard<std::mutex> lock(m_lineMutex);
        return m_lines;
    }
    bool HasLine(std::u16string_view text) {
        for (const auto& line : Lines())
            if (line.find(text) != std::u16string::npos) return true;
        return false;
    }

    TestPlatform tp;
    Configuration config;
    FakeSmartCards cards {tp.clock};
    FakeIdentities identities;
    FakeDeviceSessions sessions;
    DeviceMap devices {config};
    std::atomic<int32_t> active {0};
    DeviceWorkerHost host {tp.threads, devices, active};
    std::mutex m_lineMutex;
    std::vector<std::u16string> m_lines;
    CardReaderServices services {tp.clock, cards, identities, sessions, host, [this](std::u16string_view line) {
                                     std::lock_guard<std::mutex> lock(m_lineMutex);
                                     m_lines.emplace_back(line);
                                 }};
    std::vector<CDevTovrel*> started;
};

TEST_F(CDevPCSCTest, RemovalWithDelayZeroActsAtOnceAndTheDeviceEnds) {
    sessions.outcome = SessionMatch::ActionDone;
    CDevPCSC* device = Watch();
    const std::u16string id = device->GetId();
    EXPECT_EQ(cards.LastTimeout(), kCardInWaitMs);
    const uint32_t pulledAt = tp.clock.GetTickCount();
    cards.Pull(kReader);
    ASSERT_TRUE(Ended(id));
    started.clear();
    EXPECT_EQ(sessions.LossTicks(), std::vector<uint32_t> {pulledAt});
    // Destroyed with its worker: the context went with it.
    EXPECT_EQ(cards.LiveContexts(), 0);
    EXPECT_TRUE(HasLine(u"Zentik:Virtual PCD 00 00:" + id + u"|Card Removed"));
    EXPECT_TRUE(HasLine(u"|Card Monitoring Ended"));
}

TEST_F(CDevPCSCTest, SameCardBackWithinTheDelayKeepsTheOptionsAndWatchingGoesOn) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    cards.Pull(kReader);
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == 1; }));
    ASSERT_TRUE(cards.WaitForWaiters(1));
    EXPECT_EQ(cards.LastTimeout(), kCardOutWaitMs);
    // While the card is out the offline tests run once a second.
    cards.TimeOutNextWait();
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == 2; }));
    ASSERT_TRUE(cards.WaitForWaiters(1));

    cards.Insert(kReader);
    ASSERT_TRUE(WaitUntil([&] { return !device->IsRemoved(); }));
    ASSERT_TRUE(cards.WaitForWaiters(1));
    EXPECT_EQ(cards.LastTimeout(), kCardInWaitMs);
    EXPECT_EQ(device->RemovalTick(), 0u);
    EXPECT_EQ(device->CopyLogonOptions().size(), 1u);
    EXPECT_EQ(sessions.calls.load(), 2);
    EXPECT_TRUE(HasLine(u"|Card Returned"));
    EXPECT_EQ(active.load(), 1);
}

// While the card is out the offline tests run once a second, and also at the very tick the
// option's delay ends: here each test takes 350 ms (as the idle probe may), which puts the
// seconds out of step with the delay.
TEST_F(CDevPCSCTest, ThePulledCardsOfflineTestRunsWhenTheDelayEnds) {
    std::mutex tickMutex;
    std::vector<uint32_t> ticks;
    sessions.onAction = [&](uint32_t lossTick) {
        const uint32_t since = TicksSince(tp.clock.GetTickCount(), lossTick);
        {
            std::lock_guard<std::mutex> lock(tickMutex);
            ticks.push_back(since);
        }
        tp.clock.Advance(350);
        if (since > 12000) sessions.outcome = SessionMatch::ActionDone;
    };
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 10);
    const std::u16string id = device->GetId();
    cards.Pull(kReader);
    for (int n = 2; n < 40 && active.load() != 0; ++n) {
        ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() >= n - 1; }));
        cards.TimeOutNextWait();
        WaitUntil([&] { return sessions.calls.load() >= n || active.load() == 0; });
    }
    ASSERT_TRUE(Ended(id));
    started.clear();
    std::lock_guard<std::mutex> lock(tickMutex);
    EXPECT_NE(std::find(ticks.begin(), ticks.end(), 10000u), ticks.end()) << ::testing::PrintToString(ticks);
}

struct NotOurCard {
    const char* label;
    bool mute;
    bool otherToken;  // false: no token can be read
};

class CardThatIsNotOurs : public CDevPCSCTest, public ::testing::WithParamInterface<NotOurCard> {};

TEST_P(CardThatIsNotOurs, KeepsTheCardRemovedAndTheOfflineTestsRunning) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    cards.Pull(kReader);
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == 1; }));
    if (GetParam().otherToken) {
        identities.Put(kReader, kSerialB);
    } else {
        identities.Take(kReader);
    }
    cards.Insert(kReader, GetParam().mute);
    for (int second = 2; second <= 4; ++second) {
        cards.TimeOutNextWait();
        ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == second; })) << second;
    }
    EXPECT_TRUE(device->IsRemoved());
    EXPECT_EQ(device->CopyLogonOptions().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cards, CardThatIsNotOurs,
                         ::testing::Values(NotOurCard {"AnotherCard", false, true}, NotOurCard {"Unreadable", false, false},
                                           NotOurCard {"MuteCard", true, true}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(CDevPCSCTest, AMuteCardInTheReaderCountsAsRemoved) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    cards.Insert(kReader, /*mute=*/true);
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == 1; }));
    EXPECT_TRUE(device->IsRemoved());
    EXPECT_TRUE(HasLine(u"|Card Removed|Card Mute"));
}

TEST_F(CDevPCSCTest, ACardSwappedBetweenTwoLooksCountsAsRemoved) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    identities.Put(kReader, kSerialB);
    // Out and in again before the device looked: the state reads "present" both times.
    cards.Swap(kReader);
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == 1; }));
    EXPECT_TRUE(device->IsRemoved());
    EXPECT_TRUE(HasLine(u"|Card Removed|Other Card"));
}

TEST_F(CDevPCSCTest, TheSameCardOutAndInBetweenTwoLooksIsStillWatched) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    const int readsBefore = identities.reads.load();
    cards.Swap(kReader);
    ASSERT_TRUE(WaitUntil([&] { return identities.reads.load() > readsBefore; }));
    ASSERT_TRUE(cards.WaitForWaiters(1));
    EXPECT_FALSE(device->IsRemoved());
    EXPECT_EQ(sessions.calls.load(), 0);
}

TEST_F(CDevPCSCTest, RequestStopCancelsTheWaitAndTheOfflineTestsRunOneLastTime) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    const std::u16string id = device->GetId();
    const uint32_t before = tp.clock.GetTickCount();
    device->RequestStop();
    ASSERT_TRUE(Ended(id));
    started.clear();
    EXPECT_EQ(sessions.calls.load(), 1);
    EXPECT_EQ(cards.LiveContexts(), 0);
    // A cancel is no failure of the resource manager: nothing waited before ending.
    EXPECT_EQ(tp.clock.GetTickCount(), before);
}

TEST_F(CDevPCSCTest, AStopThatFindsNoWaitPendingStillCountsAsRemovalAndRunsTheTestsOnce) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    const std::u16string id = device->GetId();
    cards.Pull(kReader);
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == 1; }));
    ASSERT_TRUE(cards.WaitForWaiters(1));
    // The card comes back, and the stop arrives while the worker reads its identity: no wait is
    // pending, so the cancel reaches nothing.
    std::atomic<bool> reading {false};
    std::atomic<bool> release {false};
    identities.onRead = [&] {
        reading = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    cards.Insert(kReader);
    ASSERT_TRUE(WaitUntil([&] { return reading.load(); }));
    device->RequestStop();
    release = true;
    ASSERT_TRUE(Ended(id));
    started.clear();
    EXPECT_EQ(sessions.calls.load(), 2);
    int removals = 0;
    for (const auto& line : Lines()) removals += line.find(u"|Card Removed") != std::u16string::npos;
    EXPECT_EQ(removals, 2);
    EXPECT_EQ(cards.LiveContexts(), 0);
}

TEST_F(CDevPCSCTest, AReaderKnownByTheBeginningOfItsLongNameIsWatchedAndItsCardRecognised) {
    // A token library keeps only 64 characters of a reader's name as the slot description, here
    // the first 64 without the two blanks at their end; the card sign-in names the reader so.
    const std::u16string longReader = u"Front Panel Reader " + std::u16string(43, u'k') + u"  [Interface 01] 00 00";
    const std::u16string description = longReader.substr(0, 62);
    cards.AddReader(longReader);
    cards.Insert(longReader);
    identities.Put(description, kSerialA);
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30, description);
    EXPECT_FALSE(device->IsRemoved());
    EXPECT_EQ(sessions.calls.load(), 0);
    cards.Pull(longReader);
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() == 1; }));
    ASSERT_TRUE(cards.WaitForWaiters(1));
    cards.Insert(longReader);
    ASSERT_TRUE(WaitUntil([&] { return !device->IsRemoved(); }));
    EXPECT_TRUE(HasLine(u"Zentik:" + description + u":" + device->GetId() + u"|Card Returned"));
    EXPECT_EQ(device->CopyLogonOptions().size(), 1u);
}

TEST(ReaderOfDescription, FindsTheOneReaderALongNameWasCutFrom) {
    const std::u16string headCut = u"Front Panel Reader " + std::u16string(43, u'k') + u"  [Interface 01] 00 00";
    const std::u16string tailKept = u"PREFIX" + std::u16string(u"Desk Reader ") + std::u16string(52, u'd');
    const std::vector<std::u16string> readers = {u"Virtual PCD 00 00", headCut, tailKept};
    const struct {
        const char* label;
        std::u16string name;
        std::vector<std::u16string> readers;
        std::u16string expected;
    } cases[] = {
        {"first 64, blanks dropped", headCut.substr(0, 62), readers, headCut},
        {"first 64, other case", u"FRONT PANEL READER " + std::u16string(43, u'K'), readers, headCut},
        {"last 64", tailKept.substr(6), readers, tailKept},
        {"a reader of that name", u"Virtual PCD 00 00", readers, u"Virtual PCD 00 00"},
        {"no such reader", u"Other Reader", readers, u"Other Reader"},
        {"two candidates", headCut.substr(0, 62), {headCut, headCut + u" 01"}, headCut.substr(0, 62)},
        {"longer than a description", headCut, readers, headCut},
    };
    for (const auto& c : cases) EXPECT_EQ(ReaderOfDescription(c.name, c.readers), c.expected) << c.label;
}

TEST_F(CDevPCSCTest, AResourceManagerThatDiesCountsAsRemovalAndIsNeverSpunOn) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 3600);
    const uint32_t diedAt = tp.clock.GetTickCount();
    cards.StopService();
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() >= 5; }));
    EXPECT_TRUE(device->IsRemoved());
    EXPECT_EQ(device->RemovalTick(), diedAt);
    EXPECT_FALSE(device->HoldsContext());
    // Each new attempt came at least a second after the last one.
    const int calls = sessions.calls.load();
    EXPECT_GE(tp.clock.GetTickCount() - diedAt, static_cast<uint32_t>(calls - 1) * kReconnectPauseMs);
    EXPECT_TRUE(HasLine(u"|Card Monitoring Lost|0x80100013"));

    // Back again, with the card in: a new context, the old one long gone, and watching resumes.
    cards.StartService();
    ASSERT_TRUE(WaitUntil([&] { return !device->IsRemoved(); }));
    ASSERT_TRUE(cards.WaitForWaiters(1));
    EXPECT_TRUE(device->HoldsContext());
    EXPECT_EQ(cards.LiveContexts(), 1);
    EXPECT_TRUE(HasLine(u"|Card Monitoring Resumed"));
    EXPECT_EQ(device->CopyLogonOptions().size(), 1u);
}

TEST_F(CDevPCSCTest, AContextFromBeforeARestartIsNeverUsedAgain) {
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 3600);
    // The manager restarts while the device waits: the wait fails, the old context is dropped.
    cards.StopService();
    cards.StartService();
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() >= 1; }));
    ASSERT_TRUE(WaitUntil([&] { return !device->IsRemoved(); }));
    ASSERT_TRUE(cards.WaitForWaiters(1));
    EXPECT_EQ(cards.Established(), 2);
    EXPECT_EQ(cards.LiveContexts(), 1);
}

TEST_F(CDevPCSCTest, TheUserScopeIsTriedWhenTheSystemScopeIsRefused) {
    cards.refusedScopes = {Scard::ScopeSystem};
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    EXPECT_TRUE(device->HoldsContext());
    EXPECT_FALSE(device->IsRemoved());
}

TEST_F(CDevPCSCTest, AReaderThatDoesNotExistCountsAsRemoved) {
    cards.RemoveReader(kReader);
    CDevPCSC* device = Watch(LogonOption::LockWhenOffline, 30);
    ASSERT_TRUE(WaitUntil([&] { return sessions.calls.load() >= 1; }));
    EXPECT_TRUE(device->IsRemoved());
    EXPECT_TRUE(HasLine(u"|Card Removed|Reader Not Found"));
}

TEST_F(CDevPCSCTest, ReadCardIdentityIsTheSerialAsGuidTextOrEmpty) {
    std::unique_ptr<CDevPCSC> device(CDevPCSC::Create(services, kReader, CardDeviceId(kSerialA)));
    EXPECT_EQ(device->ReadCardIdentity(), u"{31313030-3232-3333-3434-353536363737}");
    identities.Put(kReader, TokenSerial {});
    EXPECT_EQ(device->ReadCardIdentity(), u"");
    identities.Take(kReader);
    EXPECT_EQ(device->ReadCardIdentity(), u"");
    EXPECT_EQ(device->GetKind(), DeviceKind::CardReader);
    EXPECT_EQ(device->GetName(), kReader);
    EXPECT_EQ(device->ReportSessions(), Result::NteNotSupported);
}

TEST_F(CDevPCSCTest, ReaderNamesAndIdsLongerThanTheirFieldsAreRefused) {
    const std::u16string longest(Scard::kMaxReaderNameChars, u'R');
    const std::u16string id = CardDeviceId(kSerialA);
    struct Case {
        const char* label;
        std::u16string reader;
        std::u16string id;
        bool made;
    } cases[] = {
        {"longest reader", longest, id, true},
        {"reader one too long", longest + u"R", id, false},
        {"empty reader", u"", id, false},
        {"id one too long", kReader, id + u"0", false},
        {"empty id", kReader, u"", false},
    };
    for (const auto& c : cases) {
        std::unique_ptr<CDevPCSC> device(CDevPCSC::Create(services, c.reader, c.id));
        EXPECT_EQ(device != nullptr, c.made) << c.label;
    }
}

TEST(OfflineTestRules, ExpiryAfterTheSessionsActionDidNotDealWithTheOption) {
    constexpr FileTime now = 100 * kOptionExpiry;
    struct Case {
        const char* label;
        SessionMatch match;
        uint32_t handled;
        FileTime age;
        bool dropped;
    } cases[] = {
        {"action done", SessionMatch::ActionDone, 0, 0, true},
        {"no session, handled before", SessionMatch::None, 1, 0, true},
        {"no session, young", SessionMatch::None, 0, kOptionExpiry - 1, false},
        {"no session, 601 s old", SessionMatch::None, 0, kOptionExpiry, true},
        {"pending, handled", SessionMatch::ActionPending, 1, 10 * kOptionExpiry, false},
        {"pending, young", SessionMatch::ActionPending, 0, kOptionExpiry - 1, false},
        {"pending, 601 s old", SessionMatch::ActionPending, 0, kOptionExpiry, true},
        {"clock set back", SessionMatch::None, 0, -kOptionExpiry, false},
    };
    for (const auto& c : cases) {
        CLogonOpt option;
        option.m_bHandled = c.handled;
        option.m_ftTime = now - c.age;
        EXPECT_EQ(OptionExpired(option, c.match, now), c.dropped) << c.label;
    }
}

TEST(OfflineTestRules, AnAwayOptionIsAwayFromTheMomentItsDeviceIsLost) {
    FakeClock clock;
    FakeDeviceSessions sessions;
    sessions.outcome = SessionMatch::ActionPending;
    struct Device final : CDevTovrel {
        explicit Device(IClock& c) : CDevTovrel(c, u"{D}", u"d", DeviceKind::CardReader) {}
        void StartWorker() override {}
        uint32_t Run() override { return 0; }
    } device(clock);
    CLogonOpt away;
    away.m_nOption = -70;
    away.m_ftTime = clock.GetSystemTimeAsFileTime();
    EXPECT_FALSE(OfflineTest(sessions, clock, away, device, 5));
    EXPECT_EQ(away.m_dwAwaySince, clock.GetTickCount());
    clock.Advance(1000);
    OfflineTest(sessions, clock, away, device, 5);
    EXPECT_EQ(away.m_dwAwaySince, clock.GetTickCount() - 1000);  // set once
    EXPECT_EQ(sessions.LossTicks(), (std::vector<uint32_t> {5, 5}));
}

}  // namespace
}  // namespace corvane::test
