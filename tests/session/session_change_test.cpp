// Session-change handling: how notifications move a record between states, what each change
// records, and what the devices and the console identity learn from it.
#include "session/session_flags.h"
#include "session_test_support.h"

namespace corvane::test {
namespace {

// The service has been running for a while: its start-up enumeration found no sessions.
class SessionChangeTest : public SessionFixture {
protected:
    void SetUp() override { ASSERT_TRUE(monitor->EnumerateSessions()); }
    // anna on the console, known to the table through her logon notification.
    void LogOnAnna() {
        AddSession(2, u"anna", u"CONTOSO");
        Notify(WTS_SESSION_LOGON, 2);
        records.Clear();
    }
    std::vector<RecordedEvent> Changes() { return records.Of("change"); }
};

TEST_F(SessionChangeTest, LogonOfAnUnknownSessionCreatesARecordAndRecordsOnlyTheLogon) {
    AddSession(2, u"anna", u"CONTOSO");
    Notify(WTS_SESSION_LOGON, 2);

    auto r = Record(2);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->m_nState, SessionState::Active);
    EXPECT_EQ(r->m_nDesktop, DesktopKind::Console);
    EXPECT_EQ(r->m_strUpn, u"anna@CONTOSO");
    EXPECT_EQ(r->m_ftActive, tp.sessions.now);
    auto events = records.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "logon");
    EXPECT_EQ(events[0].time, tp.sessions.now);
    EXPECT_EQ(monitor->LogonState().GetConsoleUser(), u"anna@CONTOSO");
}

TEST_F(SessionChangeTest, ConsoleLockRecordsLockClearsConsoleUserAndRemovesDeviceOptions) {
    LogOnAnna();
    FakeDevice* phone = AddDevice(u"phone-1");
    FakeDevice* other = AddDevice(u"phone-2");
    phone->AddLogonOption(u"ANNA", u"contoso", LogonOption::LogoffWhenOffline, 30);
    other->AddLogonOption(u"anna", u"CONTOSO", LogonOption::LockWhenOffline, 0);
    other->AddLogonOption(u"bob", u"CONTOSO", LogonOption::LockWhenOffline, 0);
    tp.sessions.now += 5 * kSecond;
    AddSession(2, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active, WtsSessionFlags::Lock);

    Notify(WTS_SESSION_LOCK, 2);

    auto r = Record(2);
    EXPECT_EQ(r->m_nState, SessionState::Locked);
    EXPECT_EQ(r->m_ftLocked, tp.sessions.now);
    auto changes = Changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].event, WTS_SESSION_LOCK);
    EXPECT_EQ(monitor->LogonState().GetConsoleUser(), u"");
    EXPECT_TRUE(phone->CopyLogonOptions().empty());
    ASSERT_EQ(other->CopyLogonOptions().size(), 1u);
    EXPECT_EQ(other->CopyLogonOptions()[0].m_strUser, u"bob");
}

TEST_F(SessionChangeTest, UnlockRecordsUnlockSetsConsoleUserAndRefreshesTheFirstMatchingOption) {
    LogOnAnna();
    AddSession(2, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active, WtsSessionFlags::Lock);
    Notify(WTS_SESSION_LOCK, 2);
    FakeDevice* phone = AddDevice(u"phone-1");
    phone->AddLogonOption(u"anna", u"CONTOSO", LogonOption::LockWhenOffline, 0);
    tp.sessions.now += 7 * kSecond;
    AddSession(2, u"anna", u"CONTOSO");
    records.Clear();

    Notify(WTS_SESSION_UNLOCK, 2);

    auto r = Record(2);
    EXPECT_EQ(r->m_nState, SessionState::Active);
    EXPECT_EQ(r->m_ftActive, tp.sessions.now);
    ASSERT_EQ(Changes().size(), 1u);
    EXPECT_EQ(Changes()[0].event, WTS_SESSION_UNLOCK);
    EXPECT_EQ(monitor->LogonState().GetConsoleUser(), u"anna@CONTOSO");
    EXPECT_EQ(phone->CopyLogonOptions()[0].m_ftTime, tp.sessions.now);
}

TEST_F(SessionChangeTest, ReportedEventFollowsTheCodeOrTheNewState) {
    struct Case {
        const char* label;
        int32_t before;  // flags before: the session is active with these flags
        int32_t code;
        int32_t afterState;
        int32_t afterFlags;
        int32_t expected;  // reported event, 0 for no record
    };
    const Case cases[] = {
        {"remote reconnect of a locked session reports an unlock", WtsSessionFlags::Lock, WTS_REMOTE_CONNECT,
         WtsConnectState::Active, WtsSessionFlags::Unlock, WTS_SESSION_UNLOCK},
        {"console disconnect reports the new locked state", WtsSessionFlags::Unlock, WTS_CONSOLE_DISCONNECT,
         WtsConnectState::Disconnected, WtsSessionFlags::Lock, SessionState::Locked},
        {"remote control on an active session that gets locked reports the state", WtsSessionFlags::Unlock,
         WTS_SESSION_REMOTE_CONTROL, WtsConnectState::Active, WtsSessionFlags::Lock, SessionState::Locked},
        {"lock code reports itself", WtsSessionFlags::Unlock, WTS_SESSION_LOCK, WtsConnectState::Active,
         WtsSessionFlags::Lock, WTS_SESSION_LOCK},
        {"no change records nothing", WtsSessionFlags::Unlock, WTS_CONSOLE_CONNECT, WtsConnectState::Active,
         WtsSessionFlags::Unlock, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        records.Clear();
        tp.sessions.Erase(2);
        Notify(WTS_SESSION_LOGOFF, 2);
        AddSession(2, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active, c.before);
        Notify(WTS_SESSION_LOGON, 2);
        records.Clear();
        AddSession(2, u"anna", u"CONTOSO", u"Console", c.afterState, c.afterFlags);
        Notify(c.code, 2);
        auto changes = Changes();
        if (c.expected == 0) {
            EXPECT_TRUE(changes.empty());
        } else {
            ASSERT_EQ(changes.size(), 1u);
            EXPECT_EQ(changes[0].event, c.expected);
        }
    }
}

TEST_F(SessionChangeTest, LogoffRemovesTheRecordRecordsItAndClearsTheConsoleUser) {
    LogOnAnna();
    FakeDevice* phone = AddDevice(u"phone-1");
    phone->AddLogonOption(u"anna", u"CONTOSO", LogonOption::LockWhenOffline, 0);
    tp.sessions.Erase(2);  // the session is gone when its logoff is announced

    Notify(WTS_SESSION_LOGOFF, 2);

    EXPECT_FALSE(Record(2));
    auto changes = Changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].event, WTS_SESSION_LOGOFF);
    EXPECT_FALSE(changes[0].hadInfo);
    EXPECT_EQ(monitor->LogonState().GetConsoleUser(), u"");
    EXPECT_TRUE(phone->CopyLogonOptions().empty());
}

TEST_F(SessionChangeTest, LogoffIsRecordedEvenWhileTheSessionStillAnswersQueries) {
    LogOnAnna();
    WtsInfoEx leaving = FakeSessions::UserSession(2, u"", u"");  // Windows empties the user at logoff
    leaving.WinStationName = u"Console";
    tp.sessions.Set(leaving);

    Notify(WTS_SESSION_LOGOFF, 2);

    EXPECT_FALSE(Record(2));
    auto changes = Changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].event, WTS_SESSION_LOGOFF);
    EXPECT_EQ(changes[0].user, u"anna");  // the names are kept for the record of the logoff
}

TEST_F(SessionChangeTest, NotificationsWithoutAUserOrForAnUnknownLogoffCreateNothing) {
    WtsInfoEx screen = FakeSessions::UserSession(1, u"", u"", u"Console", WtsConnectState::Connected);
    tp.sessions.Set(screen);
    Notify(WTS_CONSOLE_CONNECT, 1);
    AddSession(4, u"carl", u"CONTOSO");
    Notify(WTS_SESSION_LOGOFF, 4);

    EXPECT_EQ(monitor->Table().Count(), 0u);
    EXPECT_TRUE(records.Events().empty());
}

TEST_F(SessionChangeTest, FailedQueryLeavesAKnownRecordInStateUnknown) {
    LogOnAnna();
    tp.sessions.queryError = 5;

    Notify(WTS_SESSION_LOCK, 2);

    auto r = Record(2);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->m_nState, SessionState::Unknown);
    auto changes = Changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].event, WTS_SESSION_LOCK);
    EXPECT_FALSE(changes[0].hadInfo);
}

TEST_F(SessionChangeTest, WindowsSevenReportsLockFlagsReversed) {
    tp.sessions.osMajor = 6;
    tp.sessions.osMinor = 1;
    AddSession(2, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active, WtsSessionFlags::Lock);  // reads unlocked
    Notify(WTS_SESSION_LOGON, 2);
    EXPECT_EQ(Record(2)->m_nState, SessionState::Active);
}

TEST(SessionFlagsTest, OnlyWindowsSixOneSwapsLockAndUnlock) {
    struct Case {
        uint32_t major, minor;
        int32_t flags;
        bool unlocked;
    };
    const Case cases[] = {
        {6, 1, WtsSessionFlags::Lock, true},     {6, 1, WtsSessionFlags::Unlock, false},
        {6, 1, WtsSessionFlags::Unknown, false}, {6, 2, WtsSessionFlags::Lock, false},
        {10, 0, WtsSessionFlags::Unlock, true},  {6, 0, WtsSessionFlags::Unlock, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " flags " << c.flags);
        EXPECT_EQ(IsSessionUnlocked(c.flags, ReportsLockFlagsReversed(c.major, c.minor)), c.unlocked);
    }
}

TEST(DesktopOfWinStationTest, ConsoleAndRemoteDesktopNamesIgnoreCase) {
    struct Case {
        const char16_t* station;
        int32_t current;
        int32_t expected;
    };
    const Case cases[] = {
        {u"Console", 0, 1},   {u"CONSOLE", 2, 1}, {u"RDP-Tcp#12", 1, 2},  {u"rdp-tcp#3", 0, 2},
        {u"RDP-Tc", 1, 1},    {u"", 2, 2},        {u"Services", 0, 0},   {u"ICA-tcp#1", 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "station of length " << std::u16string(c.station).size());
        EXPECT_EQ(DesktopOfWinStation(c.station, c.current), c.expected);
    }
}

// The service has just started: sessions exist before it looks.
using EnumerationTest = SessionFixture;

TEST_F(EnumerationTest, RunsOnceAddsOrUpdatesAndWritesNoAuditEvents) {
    AddSession(1, u"", u"", u"Console", WtsConnectState::Connected);  // the logon screen
    AddSession(2, u"anna", u"CONTOSO");
    AddSession(3, u"bob", u"CONTOSO", u"", WtsConnectState::Disconnected, WtsSessionFlags::Lock);
    AddSession(4, u"carl", u"CONTOSO", u"RDP-Tcp#1", WtsConnectState::Connected);  // neither active nor disconnected
    tp.sessions.enumerateError = 1722;
    EXPECT_FALSE(monitor->EnumerateSessions());  // tried again later
    tp.sessions.enumerateError = 0;

    ASSERT_TRUE(monitor->EnumerateSessions());
    EXPECT_FALSE(monitor->EnumerateSessions());

    auto events = records.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, "logined");
    EXPECT_EQ(events[0].user, u"anna");
    EXPECT_EQ(events[0].event, SessionState::Active);
    EXPECT_FALSE(events[0].existed);
    EXPECT_EQ(events[1].user, u"bob");
    EXPECT_EQ(events[1].event, SessionState::Locked);
    EXPECT_EQ(monitor->Table().Count(), 2u);
}

TEST_F(EnumerationTest, UpdatesARecordOfTheSameUserFoundByANotification) {
    AddSession(2, u"anna", u"CONTOSO");
    tp.sessions.enumerateError = 1722;  // the first notification comes before the enumeration works
    Notify(WTS_SESSION_LOGON, 2);
    tp.sessions.enumerateError = 0;
    records.Clear();

    ASSERT_TRUE(monitor->EnumerateSessions());

    auto events = records.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "logined");
    EXPECT_TRUE(events[0].existed);
    EXPECT_EQ(monitor->Table().Count(), 1u);
}

TEST_F(SessionChangeTest, TrustedDomainGivesTheRecordItsDnsIdentityButALocalAccountKeepsItsDomain) {
    tp.sessions.trusts = {{u"CONTOSO", u"contoso.com"}, {u"PC1", u"pc1.example"}};
    AddSession(2, u"anna", u"contoso");
    AddSession(3, u"admin", u"pc1", u"RDP-Tcp#1");
    Notify(WTS_SESSION_LOGON, 2);
    Notify(WTS_SESSION_LOGON, 3);

    EXPECT_EQ(Record(2)->m_strUpn, u"anna@contoso.com");
    EXPECT_EQ(Record(3)->m_strUpn, u"admin@pc1");
    EXPECT_EQ(monitor->MakeIdentity(u"admin", u"PC1"), u"admin@pc1.example");
    EXPECT_EQ(monitor->LogonState().GetConsoleUser(), u"anna@contoso.com");
}

TEST_F(EnumerationTest, RecordFoundByTheEnumerationLogsItsFirstTransition) {
    AddSession(3, u"bob", u"CONTOSO", u"RDP-Tcp#4");
    ASSERT_TRUE(monitor->EnumerateSessions());
    records.Clear();
    AddSession(3, u"bob", u"CONTOSO", u"", WtsConnectState::Disconnected, WtsSessionFlags::Lock);

    Notify(WTS_REMOTE_DISCONNECT, 3);

    auto changes = records.Of("change");
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].event, SessionState::Locked);
    EXPECT_EQ(changes[0].desktop, DesktopKind::RemoteDesktop);  // an empty station keeps the desktop
}

class CardSignInTest : public SessionChangeTest {
protected:
    void RecordSignIn(std::u16string upn, uint32_t ageMs) {
        CardSignIn signIn;
        signIn.m_strUpn = std::move(upn);
        signIn.m_dwTick = tp.clock.GetTickCount();
        signIn.m_serial = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 'A', 'B', 'C', 'D', 'E', 'F'};
        signIn.m_strReader = u"Virtual Reader 0";
        monitor->CardSignInRecord().Record(signIn);
        tp.clock.Advance(ageMs);
    }
    std::vector<RecordedEvent> Cards() { return records.Of("card"); }
};

TEST_F(CardSignInTest, ConfirmedWithinTheWindowOnlyAndOnlyOnce) {
    struct Case {
        const char* label;
        uint32_t ageMs;
        const char16_t* upn;
        size_t cards;
    };
    const Case cases[] = {
        {"29999 ms after the sign-in", 29999, u"anna@CONTOSO", 1},
        {"30000 ms after the sign-in", 30000, u"anna@CONTOSO", 0},
        {"another user's sign-in", 10, u"bob@CONTOSO", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        tp.sessions.Erase(2);
        Notify(WTS_SESSION_LOGOFF, 2);
        records.Clear();
        RecordSignIn(c.upn, c.ageMs);
        AddSession(2, u"anna", u"CONTOSO");
        Notify(WTS_SESSION_LOGON, 2);
        EXPECT_EQ(Cards().size(), c.cards);
    }
}

TEST_F(CardSignInTest, ConfirmationCreatesTheReaderDeviceWithALockOptionAndRecordsTheCardLogon) {
    std::vector<std::u16string> created;
    monitor->CreateCardReaderDevice = [&](std::u16string_view reader, std::u16string_view id) -> CDevTovrel* {
        created.push_back(std::u16string(reader));
        auto* device = new FakeDevice(tp.clock, std::u16string(id), DeviceKind::CardReader);
        m_heldDevices.push_back(device);
        return device;
    };
    RecordSignIn(u"anna@CONTOSO", 100);
    AddSession(2, u"anna", u"CONTOSO");
    Notify(WTS_SESSION_LOGON, 2);
    AddSession(2, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active, WtsSessionFlags::Lock);
    Notify(WTS_SESSION_LOCK, 2);
    AddSession(2, u"anna", u"CONTOSO");
    Notify(WTS_SESSION_UNLOCK, 2);  // the sign-in has been used up

    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0], u"Virtual Reader 0");
    const std::u16string id = u"{34333231-3635-3837-3930-414243444546}";
    CDevTovrel* device = devices.Find(id);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(static_cast<FakeDevice*>(device)->workersStarted.load(), 1);
    DeviceMap::Release(device);
    auto cards = Cards();
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].event, 101);
    EXPECT_EQ(cards[0].text, u"1234567890ABCDEF");
    EXPECT_EQ(cards[0].time, tp.sessions.now);
}

TEST_F(CardSignInTest, UnlockWithAKnownReaderAddsTheOptionToItAndRecordsACardUnlock) {
    LogOnAnna();
    AddSession(2, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active, WtsSessionFlags::Lock);
    Notify(WTS_SESSION_LOCK, 2);
    FakeDevice* reader = AddDevice(u"{34333231-3635-3837-3930-414243444546}");
    RecordSignIn(u"anna@CONTOSO", 0);
    AddSession(2, u"anna", u"CONTOSO");

    Notify(WTS_SESSION_UNLOCK, 2);

    auto options = reader->CopyLogonOptions();
    ASSERT_EQ(options.size(), 1u);
    EXPECT_EQ(options[0].m_nOption, LogonOption::LockWhenOffline);
    EXPECT_EQ(options[0].m_nDelay, 0);
    ASSERT_EQ(Cards().size(), 1u);
    EXPECT_EQ(Cards()[0].event, 102);
}

TEST_F(SessionChangeTest, PublicationWithoutDevicesIsImmediate) {
    AddSession(2, u"anna", u"CONTOSO");
    Notify(WTS_SESSION_LOGON, 2);
    EXPECT_EQ(monitor->LogonState().GetPublishedState(), kPublishedConsoleUser);
    EXPECT_EQ(monitor->LogonState().GetPublishedUser(), u"anna@CONTOSO");
    EXPECT_EQ(tp.threads.Started(), 0u);
}

TEST_F(SessionChangeTest, PublicationWithDevicesWaitsForALogonThenHasEveryDeviceReport) {
    FakeDevice* a = AddDevice(u"phone-1");
    FakeDevice* b = AddDevice(u"phone-2");
    const uint64_t sleptBefore = tp.clock.SleptMilliseconds();

    monitor->PublishLogonState();  // nobody on the console, no logon in progress
    tp.threads.JoinAll();

    EXPECT_EQ(tp.clock.SleptMilliseconds() - sleptBefore, kPublishWaitMs);
    EXPECT_EQ(a->reports.load(), 1);
    EXPECT_EQ(b->reports.load(), 1);
    EXPECT_EQ(monitor->LogonState().GetPublishedState(), 0);

    monitor->LogonState().SetLogonComponent(kLogonComponentLoggingOn, u"anna@CONTOSO");
    monitor->PublishLogonState();
    tp.threads.JoinAll();
    EXPECT_EQ(tp.clock.SleptMilliseconds() - sleptBefore, kPublishWaitMs);  // no wait this time
    EXPECT_EQ(monitor->LogonState().GetPublishedState(), kLogonComponentLoggingOn);
    EXPECT_EQ(monitor->LogonState().GetPublishedUser(), u"anna@CONTOSO");
    EXPECT_EQ(a->reports.load(), 2);
}

}  // namespace
}  // namespace corvane::test
