#include <gtest/gtest.h>

#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"
#include "channel_world.h"
#include "lan_messages.h"

namespace corvane {
namespace {

using lan::BuildMessage;
using lan::BuildPresence;

const SockAddrIn kPhone = SockAddrIn::Inet(0xC0A80114, 50123);  // 192.168.1.20:50123

class DatagramDispatchTest : public ::testing::Test {
protected:
    int32_t Dispatch(const std::vector<uint8_t>& d) { return w.channel.DispatchDatagram(d.data(), d.size(), kPhone); }

    test::ChannelWorld w;
};

TEST_F(DatagramDispatchTest, LengthMustMatchTheDatagramExactly) {
    int testLogoffs = 0;
    w.channel.Hooks().TestLogoff = [&] { ++testLogoffs; return 0u; };
    std::vector<uint8_t> d = BuildMessage(Contract::kTestLogoff, {});
    EXPECT_EQ(Dispatch(d), 0) << "an empty payload with length 0 is accepted";
    EXPECT_EQ(testLogoffs, 1);

    struct Case {
        const char* label;
        int lengthDelta;
    } cases[] = {{"length one less than the payload", -1}, {"length one more than the payload", +1}};
    for (const auto& c : cases) {
        std::vector<uint8_t> bad = BuildPresence(Contract::kPresence, 1, 2, "phone-1", "Phone");
        WriteU16(bad.data() + 2, static_cast<uint16_t>(ReadU16(bad.data() + 2) + c.lengthDelta));
        EXPECT_EQ(Dispatch(bad), Result::DatagramMalformed) << c.label;
    }
    EXPECT_EQ(Dispatch({0x11, 0x11, 0, 0}), Result::DatagramMalformed) << "shorter than a header";
    EXPECT_EQ(Dispatch(BuildMessage(0x7777, {1, 2})), Result::DatagramMalformed) << "code not in the table";
    EXPECT_EQ(Dispatch(BuildMessage(Contract::kRemoteLogoff, {1})), Result::DatagramMalformed)
        << "remote logoff is not handled in this build";
    EXPECT_EQ(testLogoffs, 1);
    EXPECT_EQ(w.table.Count(), 0u);
}

TEST_F(DatagramDispatchTest, PresenceAnnouncesWithTheSendersAddressAndWithdrawalRemoves) {
    ASSERT_EQ(Dispatch(BuildPresence(Contract::kPresence, 45452, 0xA1B2C3D4, "phone-1", "Anna's phone")), 0);
    bool found = w.table.WithNetDevice(u"phone-1", [](const CDevNet& dev) {
        EXPECT_EQ(dev.m_strName, u"Anna's phone");
        EXPECT_EQ(dev.m_strAddress, u"192.168.1.20");
        EXPECT_EQ(dev.m_wPort, 45452);
        EXPECT_EQ(dev.m_dwValue, 0xA1B2C3D4u);
    });
    EXPECT_TRUE(found);
    EXPECT_EQ(Dispatch(BuildPresence(Contract::kWithdrawal, 0, 0, "phone-1", "")), 0);
    EXPECT_EQ(w.table.Count(), 0u);
}

TEST_F(DatagramDispatchTest, AnIdThatFillsItsSlotIsTakenWhole) {
    const std::string id(40, 'x');
    ASSERT_EQ(Dispatch(BuildPresence(Contract::kPresence, 1, 2, id, "Phone")), 0);
    EXPECT_TRUE(w.table.WithNetDevice(std::u16string(40, u'x'), [](const CDevNet&) {}));
}

TEST_F(DatagramDispatchTest, MalformedPresenceIsDroppedWithoutTouchingTheTable) {
    std::vector<uint8_t> noTerminator = BuildPresence(Contract::kPresence, 1, 2, "phone-1", "Phone");
    noTerminator.back() = 'X';
    std::vector<uint8_t> noName = BuildMessage(Contract::kPresence, std::vector<uint8_t>(46, 'a'));
    std::vector<uint8_t> shortPayload = BuildMessage(Contract::kPresence, std::vector<uint8_t>(20, 'a'));
    std::vector<uint8_t> emptyId = BuildPresence(Contract::kPresence, 1, 2, "", "Phone");
    std::vector<uint8_t> bareHeader = BuildMessage(Contract::kWithdrawal, {});
    const struct {
        const char* label;
        const std::vector<uint8_t>& datagram;
    } cases[] = {
        {"name without terminator", noTerminator},
        {"payload ends after the ID slot", noName},
        {"payload shorter than the ID slot", shortPayload},
        {"empty device ID", emptyId},
        {"withdrawal without payload", bareHeader},
    };
    for (const auto& c : cases) EXPECT_EQ(Dispatch(c.datagram), Result::DatagramMalformed) << c.label;
    EXPECT_EQ(w.table.Count(), 0u);
}

struct ForwardCase {
    const char* label;
    uint16_t code;
    bool forwardEnabled;
    uint16_t logonPortUdp;
    int32_t expected;
};

TEST_F(DatagramDispatchTest, ForwardingFollowsTheSwitchAndThePort) {
    const ForwardCase cases[] = {
        {"gated code while forwarding is off", 0x3001, false, 6000, Result::DatagramDropped},
        {"gated code while forwarding is on", 0x3001, true, 6000, 0},
        {"every gated code passes when on", 0xB001, true, 6000, 0},
        {"0x3011 is forwarded while off", 0x3011, false, 6000, 0},
        {"0x3012 is forwarded while off", 0x3012, false, 6000, 0},
        {"no port known drops an always-forwarded code", 0x3011, true, 0, Result::DatagramDropped},
        {"no port known drops a gated code", 0x0012, true, 0, Result::DatagramDropped},
    };
    for (const auto& c : cases) {
        w.sockets.sentDatagrams.clear();
        w.channel.ForwardEnabled = c.forwardEnabled;
        w.config.g_wLogonPortUdp = c.logonPortUdp;
        EXPECT_EQ(Dispatch(BuildMessage(c.code, {1, 2, 3})), c.expected) << c.label;
        EXPECT_EQ(w.sockets.sentDatagrams.size(), c.expected == 0 ? 1u : 0u) << c.label;
    }
}

TEST_F(DatagramDispatchTest, ForwardedEnvelopeIsTheDatagramThenTheSendersSockaddr) {
    w.channel.ForwardEnabled = true;
    w.config.g_wLogonPortUdp = 6000;
    const std::vector<uint8_t> d = BuildMessage(0x3001, {0xDE, 0xAD, 0xBE, 0xEF, 0x00}, 0x12345678);
    ASSERT_EQ(Dispatch(d), 0);
    ASSERT_EQ(w.sockets.sentDatagrams.size(), 1u);
    const auto& sent = w.sockets.sentDatagrams[0];
    EXPECT_EQ(sent.to, SockAddrIn::Inet(SockAddrIn::kLoopback, 6000));
    ASSERT_EQ(sent.data.size(), d.size() + 16);
    EXPECT_EQ(std::vector<uint8_t>(sent.data.begin(), sent.data.begin() + d.size()), d) << "header unchanged";
    const std::vector<uint8_t> sockaddr(sent.data.end() - 16, sent.data.end());
    EXPECT_EQ(sockaddr, (std::vector<uint8_t> {2, 0, 0xC3, 0xCB, 192, 168, 1, 20, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(w.sockets.OpenSockets(), 0u);
}

}  // namespace
}  // namespace corvane
