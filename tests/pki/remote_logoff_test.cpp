// The remote logoff, lock and disconnect of a network phone (0x3015) with fake sockets and
// sessions: size checks, the cases without a reply, the reply's layout and texts, and the key
// proof before anything is done to a session.
#include <gtest/gtest.h>

#include "channel/remote_logoff.h"
#include "lan_messages.h"
#include "pki/pki_world.h"
#include "platform/text.h"
#include "session/session_codes.h"
#include "support/fake_sockets.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

const SockAddrIn kPhone = SockAddrIn::Inet(0xC0A80114, 50123);  // 192.168.1.20
constexpr const char* kDevice = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";

class RemoteLogoffTest : public ::testing::Test {
protected:
    RemoteLogoffTest() {
        w.platform.sockets = &sockets;
        OpenServiceMutexes(w.platform, config);
        config.g_strHostGuid = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
        config.g_pairedDevices = {Utf8ToUtf16(kDevice)};
        logoff.Hooks().FindSessionOfUpn = [this](std::u16string_view upn, CUserLog& copy) {
            for (const auto& s : sessions) {
                if (EqualsNoCase(s.m_strUpn, upn)) {
                    copy = s;
                    return true;
                }
            }
            return false;
        };
        LeafSpec spec;
        spec.serial = 0x6001;
        spec.san = UpnSan("alice@corp.example");
        TestPki::InstallContainer(w.tp.Root(), kDevice, "alice", SharedPki().MakeLeaf(spec));
    }
    void AddSession(uint32_t id, int32_t state) {
        CUserLog s;
        s.m_strUpn = u"alice@corp.example";
        s.m_nSession = static_cast<int32_t>(id);
        s.m_nState = state;
        sessions.push_back(s);
    }
    int32_t Send(const std::vector<uint8_t>& d) { return logoff.HandleRemoteLogoff(d.data(), d.size(), kPhone); }

    PkiWorld w;
    FakeSockets sockets;
    Configuration config;
    CMessageTexts texts {0x0409, w.tp.systemMessages};
    CRemoteLogoff logoff {w.platform, config, w.proof, texts};
    std::vector<CUserLog> sessions;
};

TEST_F(RemoteLogoffTest, AProvedLogoffLogsTheSessionOffAndAnswersStatusZero) {
    AddSession(4, SessionState::Active);
    ASSERT_EQ(Send(lan::BuildRemoteLogoff(1, kDevice, "alice")), 0);
    EXPECT_EQ(w.tp.sessions.LoggedOff(), (std::vector<uint32_t> {4}));
    const auto sent = sockets.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].to, SockAddrIn::Inet(0xC0A80114, 45452));
    const auto reply = lan::ParseRemoteLogoffReply(sent[0].data);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, 0u);
    EXPECT_EQ(reply->operation, 1u);
    EXPECT_EQ(reply->deviceId, kDevice);
    EXPECT_EQ(reply->hostGuid, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
    EXPECT_EQ(reply->container, "alice");
    EXPECT_EQ(reply->text, "");
    // length = 88 + n + 1 with n = 6 ("alice" and its NUL).
    EXPECT_EQ(ReadU16(sent[0].data.data() + 2), 88 + 6 + 1);
    EXPECT_EQ(sent[0].data.size(), 8u + 88 + 6 + 1);
}

TEST_F(RemoteLogoffTest, LockAndDisconnectDisconnectTheSession) {
    AddSession(4, SessionState::Active);
    ASSERT_EQ(Send(lan::BuildRemoteLogoff(2, kDevice, "alice")), 0);
    ASSERT_EQ(Send(lan::BuildRemoteLogoff(3, kDevice, "alice")), 0);
    EXPECT_EQ(w.tp.sessions.Disconnected(), (std::vector<uint32_t> {4, 4}));
    EXPECT_TRUE(w.tp.sessions.LoggedOff().empty());
}

TEST_F(RemoteLogoffTest, RefusalsAreAnsweredWithTheirCodeAndTextAndTouchNoSession) {
    const struct {
        const char* label;
        uint32_t operation;
        int32_t state;  // 0: no session
        uint32_t status;
        const char* text;
    } cases[] = {
        {"no session of the user", 1, 0, 0x20000013, "The specified user session was not found"},
        {"disconnecting a locked session", 2, SessionState::Locked, 0x20000014, "The specified user is locked"},
        {"unknown operation", 4, SessionState::Active, 0x80090005, "Bad Data."},
    };
    for (const auto& c : cases) {
        sessions.clear();
        if (c.state) AddSession(4, c.state);
        const size_t before = sockets.Sent().size();
        ASSERT_EQ(Send(lan::BuildRemoteLogoff(c.operation, kDevice, "alice")), 0) << c.label;
        auto sent = sockets.Sent();
        ASSERT_EQ(sent.size(), before + 1) << c.label;
        sent.erase(sent.begin(), sent.begin() + static_cast<long>(before));
        const auto reply = lan::ParseRemoteLogoffReply(sent[0].data);
        ASSERT_TRUE(reply) << c.label;
        EXPECT_EQ(reply->status, c.status) << c.label;
        EXPECT_NE(reply->text.find(c.text), std::string::npos) << c.label << ": " << reply->text;
        EXPECT_EQ(ReadU16(sent[0].data.data() + 2), 88 + 6 + 1 + reply->text.size()) << c.label;
    }
    EXPECT_TRUE(w.tp.sessions.LoggedOff().empty());
    EXPECT_TRUE(w.tp.sessions.Disconnected().empty());
}

TEST_F(RemoteLogoffTest, NoReplyWithoutACertificateOrForAnUnpairedDevice) {
    AddSession(4, SessionState::Active);
    EXPECT_EQ(Send(lan::BuildRemoteLogoff(1, kDevice, "missing")), static_cast<int32_t>(CspError::NteBadKeyset));
    config.g_pairedDevices = {u"another phone"};
    EXPECT_EQ(Send(lan::BuildRemoteLogoff(1, kDevice, "alice")), 0);
    EXPECT_TRUE(sockets.Sent().empty());
    EXPECT_TRUE(w.tp.sessions.LoggedOff().empty());
}

TEST_F(RemoteLogoffTest, MalformedRequestsAreDroppedWithoutAReply) {
    AddSession(4, SessionState::Active);
    std::vector<uint8_t> longer = lan::BuildRemoteLogoff(1, kDevice, "alice");
    longer.push_back(0);
    WriteU16(longer.data() + 2, static_cast<uint16_t>(longer.size() - 8));  // a second NUL at the end
    std::vector<uint8_t> unterminated = lan::BuildRemoteLogoff(1, kDevice, "alice");
    unterminated.back() = 'x';
    const struct {
        const char* label;
        std::vector<uint8_t> datagram;
    } cases[] = {
        {"length one too long", longer},
        {"container without its NUL", unterminated},
        {"empty container", lan::BuildRemoteLogoff(1, kDevice, "")},
        {"empty device id", lan::BuildRemoteLogoff(1, "", "alice")},
        {"header only", std::vector<uint8_t>(longer.begin(), longer.begin() + 8)},
    };
    for (const auto& c : cases) EXPECT_EQ(Send(c.datagram), -3509) << c.label;
    EXPECT_TRUE(sockets.Sent().empty());
}

}  // namespace
}  // namespace corvane::test
