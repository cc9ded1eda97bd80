#include "upload/relp_session.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

RelpFrame Rsp(uint32_t txnr, std::string data) { return RelpFrame {txnr, "rsp", std::move(data)}; }

class RelpSessionTest : public ::testing::Test {
protected:
    void OpenSession() {
        m_session.Open();
        ASSERT_EQ(m_session.OnFrame(Rsp(1, "200 OK\nrelp_version=0\nrelp_software=x\ncommands=syslog\n")).kind,
                  RelpEventKind::Opened);
    }
    CRelpClientSession m_session {3};
};

TEST_F(RelpSessionTest, OpenOffersVersionSoftwareAndSyslog) {
    EXPECT_EQ(m_session.Open(), "1 open 52 relp_version=0\nrelp_software=corvane\ncommands=syslog\n");
    EXPECT_FALSE(m_session.CanSend());
}

TEST_F(RelpSessionTest, OpenRefusedOrWithoutSyslogFails) {
    m_session.Open();
    EXPECT_EQ(m_session.OnFrame(Rsp(1, "500 busy")).kind, RelpEventKind::Failed);
    m_session.Open();
    EXPECT_EQ(m_session.OnFrame(Rsp(1, "200 OK\ncommands=other\n")).kind, RelpEventKind::Failed);
    EXPECT_FALSE(m_session.IsOpen());
}

TEST_F(RelpSessionTest, MessagesTakeTheNextTxnrAndTheWindowFills) {
    OpenSession();
    EXPECT_EQ(m_session.Syslog("a", 10), "2 syslog 1 a\n");
    m_session.Syslog("b", 11);
    EXPECT_TRUE(m_session.CanSend());
    m_session.Syslog("c", 12);
    EXPECT_FALSE(m_session.CanSend());
    EXPECT_EQ(m_session.Unacknowledged(), 3u);
}

TEST_F(RelpSessionTest, RepliesInAnyOrderAckTheirOwnMessage) {
    OpenSession();
    m_session.Syslog("a", 10);
    m_session.Syslog("b", 11);
    const RelpEvent second = m_session.OnFrame(Rsp(3, "200 OK"));
    EXPECT_EQ(second.kind, RelpEventKind::Acked);
    EXPECT_EQ(second.nTag, 11);
    const RelpEvent first = m_session.OnFrame(Rsp(2, "500 no room"));
    EXPECT_EQ(first.kind, RelpEventKind::Refused);
    EXPECT_EQ(first.nTag, 10);
    EXPECT_EQ(first.nCode, 500);
    EXPECT_EQ(m_session.Unacknowledged(), 0u);
}

TEST_F(RelpSessionTest, ReplyForNoOutstandingTxnrFails) {
    OpenSession();
    m_session.Syslog("a", 10);
    EXPECT_EQ(m_session.OnFrame(Rsp(9, "200 OK")).kind, RelpEventKind::Failed);
    EXPECT_EQ(m_session.OnFrame(Rsp(1, "200 OK")).kind, RelpEventKind::Failed);  // open's, answered before
}

TEST_F(RelpSessionTest, ServerCloseEndsTheSessionAndCloseIsAnswered) {
    OpenSession();
    EXPECT_EQ(m_session.Close(), "2 close 0\n");
    EXPECT_EQ(m_session.OnFrame(Rsp(2, "200 OK")).kind, RelpEventKind::Closed);
    OpenSession();
    EXPECT_EQ(m_session.OnFrame(RelpFrame {0, "serverclose", ""}).kind, RelpEventKind::ServerClose);
    EXPECT_FALSE(m_session.CanSend());
}

TEST_F(RelpSessionTest, ANewOpenForgetsTheUnacknowledgedWindow) {
    OpenSession();
    m_session.Syslog("a", 10);
    m_session.Open();
    EXPECT_EQ(m_session.Unacknowledged(), 0u);
}

}  // namespace
}  // namespace corvane
