#include <gtest/gtest.h>

#include "wire/byte_order.h"
#include "wire/result_codes.h"
#include "channel_world.h"
#include "lan_messages.h"
#include "platform/text.h"

namespace corvane {
namespace {

const SockAddrIn kPhone = SockAddrIn::Inet(0xC0A80114, 50123);  // 192.168.1.20

CUserLog Session(const char16_t* upn, int32_t state, FileTime logon, FileTime active, FileTime locked) {
    CUserLog r;
    r.m_strUpn = upn;
    r.m_nState = state;
    r.m_ftLogon = logon;
    r.m_ftActive = active;
    r.m_ftLocked = locked;
    return r;
}

class SessionQueryTest : public ::testing::Test {
protected:
    SessionQueryTest() {
        w.config.g_pairedDevices = {u"Phone-1", u"phone-9"};
        // Stands in for the session table: MatchesUpn reduced to comparing m_strUpn ignoring case.
        w.queries.Hooks().ForEachSessionOfUpn = [this](std::u16string_view upn,
                                                       const std::function<void(const CUserLog&)>& visit) {
            for (const auto& s : sessions) {
                if (EqualsNoCase(s.m_strUpn, upn)) visit(s);
            }
        };
    }
    int32_t Query(const std::vector<uint8_t>& d) { return w.channel.DispatchDatagram(d.data(), d.size(), kPhone); }

    test::ChannelWorld w;
    std::vector<CUserLog> sessions;
};

TEST_F(SessionQueryTest, APairedDeviceGetsOneReplyPerMatchingSessionOnPort45452) {
    sessions = {Session(u"anna@CORP", 5, 1000, 2000, 0), Session(u"bob@CORP", 5, 1, 1, 1),
                Session(u"ANNA@corp", 7, 3000, 0, 4000)};
    ASSERT_EQ(Query(lan::BuildSessionQuery("phone-1", "anna@corp")), 0);

    const auto sent = w.sockets.Sent();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& d : sent) EXPECT_EQ(d.to, SockAddrIn::Inet(0xC0A80114, 45452));
    const auto first = lan::ParseSessionQueryReply(sent[0].data);
    const auto second = lan::ParseSessionQueryReply(sent[1].data);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(ReadU16(sent[0].data.data() + 2), 125 + 9);
    EXPECT_EQ(first->status, 0u);
    EXPECT_EQ(first->state, 5u);
    EXPECT_EQ(first->deviceId, "phone-1");
    EXPECT_EQ(first->hostGuid, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
    EXPECT_EQ(first->computerName, "TESTPC");
    EXPECT_EQ(first->logonTime, 1000);
    EXPECT_EQ(first->activeTime, 2000);
    EXPECT_EQ(first->lockedTime, 0);
    EXPECT_EQ(first->principal, "anna@corp");
    EXPECT_EQ(second->state, 7u);
    EXPECT_EQ(second->lockedTime, 4000);
}

TEST_F(SessionQueryTest, TheReplyCarriesTheRequestsIdentifierBytesUnchanged) {
    sessions = {Session(u"anna@corp", 5, 1, 0, 0)};
    std::vector<uint8_t> d = lan::BuildSessionQuery("phone-9", "anna@corp");
    d[8 + 20] = 0x7F;  // bytes after the terminator travel back too
    ASSERT_EQ(Query(d), 0);
    const auto sent = w.sockets.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(std::equal(d.begin() + 8, d.begin() + 48, sent[0].data.begin() + 12));
}

TEST_F(SessionQueryTest, NoReplyForAnUnpairedDeviceOrAUserWithoutSession) {
    sessions = {Session(u"anna@corp", 5, 1, 0, 0)};
    EXPECT_EQ(Query(lan::BuildSessionQuery("phone-2", "anna@corp")), 0);
    EXPECT_EQ(Query(lan::BuildSessionQuery("phone-1", "carl@corp")), 0);
    EXPECT_TRUE(w.sockets.Sent().empty());
}

TEST_F(SessionQueryTest, MalformedQueriesAreDroppedWithoutReply) {
    sessions = {Session(u"anna@corp", 5, 1, 0, 0)};
    const std::vector<uint8_t> good = lan::BuildSessionQuery("phone-1", "anna@corp");

    std::vector<uint8_t> spareByte = good;
    spareByte.push_back(0);
    WriteU16(spareByte.data() + 2, static_cast<uint16_t>(spareByte.size() - 8));
    std::vector<uint8_t> unterminated = good;
    unterminated.back() = 'x';
    std::vector<uint8_t> idOnly(good.begin(), good.begin() + 48);
    WriteU16(idOnly.data() + 2, 40);

    const struct {
        const char* label;
        const std::vector<uint8_t>& query;
    } cases[] = {
        {"a byte after the name's terminator", spareByte},
        {"name without terminator", unterminated},
        {"no name at all", idOnly},
    };
    for (const auto& c : cases) EXPECT_EQ(Query(c.query), Result::DatagramMalformed) << c.label;
    EXPECT_TRUE(w.sockets.Sent().empty());
}

TEST_F(SessionQueryTest, ANameTooLongForTheRepliesLengthFieldGetsNoReply) {
    const std::string name(65420, 'a');  // 125 + 65420 does not fit 16 bits
    sessions = {Session(AsciiToUtf16(name).c_str(), 5, 1, 0, 0)};
    EXPECT_EQ(Query(lan::BuildSessionQuery("phone-1", name)), 0);
    EXPECT_TRUE(w.sockets.Sent().empty());
}

}  // namespace
}  // namespace corvane
