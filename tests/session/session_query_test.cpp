// The read side: user principal names against session records, the session list for phones,
// and the two session replies.
#include <cstring>

#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "platform/file_time.h"
#include "platform/text.h"
#include "session_test_support.h"

namespace corvane::test {
namespace {

class UpnTest : public SessionFixture {
protected:
    UpnTest() {
        tp.sessions.trusts = {{u"CONTOSO", u"contoso.com"}, {u"FABRIKAM", u"fabrikam.net"}};
        record.m_strUser = u"anna";
        record.m_strDomain = u"CONTOSO";
    }
    CUserLog record;
};

TEST_F(UpnTest, MatchesUserAndNetbiosDomainOrATrustsDnsName) {
    struct Case {
        const char16_t* upn;
        bool matches;
    };
    const Case cases[] = {
        {u"anna@CONTOSO", true},        {u"ANNA@contoso", true},       {u"anna@contoso.com", true},
        {u"Anna@CONTOSO.COM", true},    {u"anna@fabrikam.net", false}, {u"anna@FABRIKAM", false},
        {u"bob@CONTOSO", false},        {u"@CONTOSO", false},          {u"anna", false},
        {u"anna@contoso.org", false},   {u"anna@", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.upn));
        EXPECT_EQ(record.MatchesUpn(c.upn, monitor->Identity()), c.matches);
    }
}

TEST_F(UpnTest, DottedDomainMatchesNothingWhenTrustsCannotBeEnumerated) {
    tp.sessions.trustError = 1311;
    EXPECT_FALSE(record.MatchesUpn(u"anna@contoso.com", monitor->Identity()));
    EXPECT_TRUE(record.MatchesUpn(u"anna@CONTOSO", monitor->Identity()));
    EXPECT_EQ(monitor->MakeIdentity(u"anna", u"CONTOSO"), u"anna@CONTOSO");
}

TEST_F(UpnTest, KnownDomainsAreTrustDnsNamesAndThisComputer) {
    struct Case {
        const char16_t* upn;
        bool known;
    };
    const Case cases[] = {
        {u"anna@contoso.com", true}, {u"x@FABRIKAM.NET", true}, {u"admin@pc1", true},  {u"admin@PC2", false},
        {u"anna@CONTOSO", false},    {u"@contoso.com", false},  {u"nodomain", false}, {u"a@other.org", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.upn));
        EXPECT_EQ(monitor->IsKnownUpnDomain(c.upn), c.known);
    }
}

class SessionListTest : public SessionFixture {
protected:
    void SetUp() override { ASSERT_TRUE(monitor->EnumerateSessions()); }
    struct Entry {
        uint8_t desktop, state;
        uint64_t logon, active, locked;
        std::string upn;
    };
    std::vector<Entry> Build() {
        uint8_t* message = nullptr;
        size_t size = 0;
        EXPECT_EQ(monitor->BuildSessionList(message, size, arena), 0u);
        auto header = MsgHeader::Decode(message, size);
        EXPECT_TRUE(header && header->code == kSessionListCode && header->status == 0 && header->MatchesSize(size));
        const uint16_t count = ReadU16(message + 8);
        std::vector<Entry> entries;
        size_t at = 10;
        for (uint16_t i = 0; i < count; ++i) {
            Entry e {message[at], message[at + 1], ReadU64(message + at + 2), ReadU64(message + at + 10),
                     ReadU64(message + at + 18), reinterpret_cast<const char*>(message + at + 26)};
            at += 26 + e.upn.size() + 1;
            entries.push_back(e);
        }
        EXPECT_EQ(at, size);
        return entries;
    }
    ReplyArena arena;
};

TEST_F(SessionListTest, OneEntryPerRecordWithTimesInUnixMilliseconds) {
    AddSession(2, u"anna", u"CONTOSO");
    Notify(WTS_SESSION_LOGON, 2);
    AddSession(3, u"bob", u"CONTOSO", u"RDP-Tcp#1", WtsConnectState::Active, WtsSessionFlags::Lock);
    Notify(WTS_SESSION_LOGON, 3);

    auto entries = Build();
    ASSERT_EQ(entries.size(), 2u);
    const uint64_t nowMs = static_cast<uint64_t>((tp.sessions.now - kFileTimeUnixEpoch) / 10000);
    EXPECT_EQ(entries[0].desktop, 1);
    EXPECT_EQ(entries[0].state, 5);
    EXPECT_EQ(entries[0].logon, nowMs - 60000);
    EXPECT_EQ(entries[0].active, nowMs);
    EXPECT_EQ(entries[0].locked, 0u);  // never locked
    EXPECT_EQ(entries[0].upn, "anna@CONTOSO");
    EXPECT_EQ(entries[1].desktop, 2);
    EXPECT_EQ(entries[1].state, 7);
    EXPECT_EQ(entries[1].active, 0u);
    EXPECT_EQ(entries[1].locked, nowMs);
}

TEST_F(SessionListTest, UserBeingLoggedOnIsMarkedOrAddedAsAConsoleEntry) {
    monitor->LogonState().SetLogonComponent(kLogonComponentLoggingOn, u"carl@CONTOSO");
    monitor->LogonState().Publish();
    auto entries = Build();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].desktop, 1);
    EXPECT_EQ(entries[0].state, 0x80);
    EXPECT_EQ(entries[0].logon + entries[0].active + entries[0].locked, 0u);
    EXPECT_EQ(entries[0].upn, "carl@CONTOSO");

    AddSession(4, u"carl", u"contoso", u"RDP-Tcp#2");  // the record carries the mark itself
    Notify(WTS_SESSION_LOGON, 4);
    monitor->LogonState().SetLogonComponent(kLogonComponentLoggingOn, u"carl@CONTOSO");
    monitor->LogonState().Publish();
    entries = Build();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].desktop, 2);
    EXPECT_EQ(entries[0].state, 0x80);
}

TEST_F(SessionListTest, TerminalServerListIsCutAtAWholeEntryWhenItWouldOverflowOneMessage) {
    for (uint32_t id = 10; id < 2010; ++id) {
        AddSession(id, u"user" + AsciiToUtf16(std::to_string(id)), u"CONTOSO", u"RDP-Tcp#1");
        Notify(WTS_SESSION_LOGON, id);
    }
    auto entries = Build();  // checks that the length matches the bytes
    EXPECT_GT(entries.size(), 1000u);
    EXPECT_LT(entries.size(), 2000u);
    EXPECT_EQ(entries.back().upn, "user" + std::to_string(10 + entries.size() - 1) + "@CONTOSO");
}

TEST_F(SessionListTest, EmptyTableGivesAnEmptyList) {
    uint8_t* message = nullptr;
    size_t size = 0;
    EXPECT_EQ(monitor->BuildSessionList(message, size, arena), 0u);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(ReadU16(message + 2), 2);
    EXPECT_EQ(ReadU16(message + 8), 0);
}

class SessionReplyTest : public ::testing::Test {
protected:
    SessionReplyTest() {
        record.m_nDesktop = 1;
        record.m_nState = 7;
        record.m_ftLogon = CalendarToFileTime({2026, 3, 0, 14, 9, 5, 7, 0});
        record.m_ftLocked = CalendarToFileTime({2026, 3, 0, 14, 10, 0, 0, 0});
        config.g_strHostGuid = u"{01234567-89AB-CDEF-0123-456789ABCDEF}";
        config.g_strComputerName = u"PC1";
    }
    CUserLog record;
    Configuration config;
    ReplyArena arena;
};

TEST_F(SessionReplyTest, StatusReplyLayout) {
    uint8_t id[40];
    for (int i = 0; i < 40; ++i) id[i] = static_cast<uint8_t>(i + 1);
    size_t size = 0;
    const uint8_t* reply = record.EncodeStatus(id, "anna@CONTOSO", config, arena, size);
    ASSERT_NE(reply, nullptr);
    ASSERT_EQ(size, 8u + 125 + 12);
    auto header = MsgHeader::Decode(reply, size);
    EXPECT_EQ(header->code, 0xB014);
    EXPECT_EQ(header->length, 125 + 12);
    EXPECT_EQ(ReadU32(reply + 8), 7u);
    EXPECT_EQ(std::memcmp(reply + 12, id, 40), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(reply + 52), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_STREQ(reinterpret_cast<const char*>(reply + 92), "PC1");
    EXPECT_EQ(ReadU64(reply + 108), static_cast<uint64_t>(record.m_ftLogon));
    EXPECT_EQ(ReadU64(reply + 116), 0u);
    EXPECT_EQ(ReadU64(reply + 124), static_cast<uint64_t>(record.m_ftLocked));
    EXPECT_STREQ(reinterpret_cast<const char*>(reply + 132), "anna@CONTOSO");
    EXPECT_EQ(reply[size - 1], 0);
}

TEST_F(SessionReplyTest, TimesReplyLayoutWithZeroTimesLeftEmpty) {
    uint8_t* reply = nullptr;
    size_t size = 0;
    ASSERT_EQ(record.EncodeTimes(0x3024, "hello", arena, reply, size), 0u);
    ASSERT_EQ(size, 8u + 50 + 5);
    auto header = MsgHeader::Decode(reply, size);
    EXPECT_EQ(header->code, 0xB024);
    EXPECT_EQ(header->length, 55);
    EXPECT_EQ(ReadU16(reply + 8), 1);
    EXPECT_EQ(ReadU16(reply + 10), 7);
    EXPECT_STREQ(reinterpret_cast<const char*>(reply + 12), "20260314090507");
    const uint8_t zeros[15] = {};
    EXPECT_EQ(std::memcmp(reply + 27, zeros, 15), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(reply + 42), "20260314100000");
    EXPECT_STREQ(reinterpret_cast<const char*>(reply + 57), "hello");
}

TEST_F(SessionReplyTest, RepliesTooLongForOneMessageAreRefused) {
    const std::string huge(70000, 'x');
    size_t size = 0;
    uint8_t* reply = nullptr;
    EXPECT_EQ(record.EncodeStatus(nullptr, huge, config, arena, size), nullptr);
    EXPECT_EQ(record.EncodeTimes(0x3024, huge, arena, reply, size), 0x80090020u);
}

}  // namespace
}  // namespace corvane::test
