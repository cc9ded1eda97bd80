// The client side of the token requests: a keyed client connection to the stream listener on an
// ephemeral port, the token layer behind it on SoftHSM2, every call decoded as the CSP reads it;
// and replies that do not fit the request, played by a peer on a socket pair.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "channel/stream_token_client.h"
#include "channel/stream_world.h"
#include "service/token_stream_requests.h"
#include "token/token_fixture.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

constexpr uint32_t kNoSmartCard = 0x8010000C;
constexpr uint32_t kNotFound = 0x80090011;
constexpr uint32_t kBadKeyset = 0x80090016;

class StreamTokenClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        tokenWorld.MakeToken("alpha");
        tokenWorld.UseTestTokenModule();
        ASSERT_EQ(tokenWorld.tokens.Binding().InitP11(), 0u);
        slotId = tokenWorld.tokens.Binding().SlotAt(0).SlotId();
        tokenWorld.tokens.Requests().GetLogonComponentState = [] { return uint16_t {0}; };
        tokenWorld.tokens.Requests().RecordCardSignIn = [](const TokenSignIn&) {};
        stream.handler.SetTokenRequests(&adapter);
        ASSERT_EQ(connection.Connect(stream.Port()), 0);
        ASSERT_EQ(connection.KeyExchange([this](uint8_t* b, size_t n) { return stream.platform.system.GenRandom(b, n); }),
                  0);
    }
    void TearDown() override {
        connection.Close();
        stream.Stop();
    }

    TokenWorld tokenWorld;
    StreamListenerWorld stream;
    CTokenStreamRequests adapter {tokenWorld.tokens.Requests()};
    CStreamClient connection {stream.platform.sockets};
    CStreamTokenClient client {connection};
    uint32_t slotId = 0;
};

TEST_F(StreamTokenClientTest, SlotsAndStateAreDecoded) {
    std::vector<TokenSlotEntry> slots;
    ASSERT_EQ(client.SlotList(slots), 0u);
    EXPECT_EQ(client.LastReplyCode(), 0xF001);
    ASSERT_GE(slots.size(), 1u);
    EXPECT_EQ(slots[0].slotId, slotId);
    EXPECT_TRUE(slots[0].tokenPresent);
    EXPECT_NE(slots[0].description.find("SoftHSM"), std::string::npos) << slots[0].description;

    TokenSlotEntry state;
    ASSERT_EQ(client.SlotState(slotId, state), 0u);
    EXPECT_EQ(client.LastReplyCode(), 0xF002);
    EXPECT_EQ(state.slotId, slotId);
    EXPECT_TRUE(state.tokenPresent);
    // SoftHSM2's serials are 16 hex characters.
    EXPECT_NE(state.serial[0], 0);

    EXPECT_EQ(client.SlotState(slotId + 1000, state), kNotFound);
}

TEST_F(StreamTokenClientTest, ContainersKeysAndCertificatesRoundTrip) {
    TokenLoginState login;
    ASSERT_EQ(client.Login(slotId, "0000", login), 0u);
    EXPECT_FALSE(login.loggedIn);
    ASSERT_EQ(client.Login(slotId, kUserPin, login), 0u);
    EXPECT_TRUE(login.loggedIn);
    EXPECT_EQ(login.pinInfo, 255u);
    ASSERT_EQ(client.LoginState(slotId, login), 0u);
    EXPECT_TRUE(login.loggedIn);

    uint32_t alpha = 0, beta = 0;
    ASSERT_EQ(client.CreateContainer(slotId, "Alpha", alpha), 0u);
    ASSERT_EQ(client.CreateContainer(slotId, "Beta", beta), 0u);
    std::vector<TokenContainerEntry> containers;
    ASSERT_EQ(client.Containers(slotId, containers), 0u);
    ASSERT_EQ(containers.size(), 2u);
    EXPECT_EQ(containers[0].name, "Alpha");
    EXPECT_EQ(containers[0].handle, alpha);
    EXPECT_EQ(containers[1].name, "Beta");
    TokenContainerEntry found;
    ASSERT_EQ(client.FindContainer(slotId, "Beta", found), 0u);
    EXPECT_EQ(found.handle, beta);
    ASSERT_EQ(client.FindContainer(slotId, "", found), 0u);
    EXPECT_EQ(found.name, "Alpha");
    EXPECT_EQ(client.FindContainer(slotId, "Gamma", found), kBadKeyset);

    TokenPublicKey key;
    ASSERT_EQ(client.GenerateKeyPair(slotId, alpha, 1, 1024, 65537, key), 0u);
    EXPECT_EQ(key.keySpec, 1u);
    EXPECT_EQ(key.bits, 1024u);
    EXPECT_EQ(key.exponent, 65537u);
    TokenPublicKey read;
    ASSERT_EQ(client.GetPublicKey(slotId, alpha, 1, read), 0u);
    EXPECT_EQ(read.modulus, key.modulus);

    // The private operation undone by the public one.
    std::vector<uint8_t> block(128, 0x3C);
    block[0] = 0;
    std::vector<uint8_t> signature, recovered;
    ASSERT_EQ(client.RsaRaw(slotId, alpha, 1, true, block, signature), 0u);
    EXPECT_EQ(client.LastReplyCode(), 0xA024);
    ASSERT_EQ(client.RsaRaw(slotId, alpha, 1, false, signature, recovered), 0u);
    EXPECT_EQ(recovered, block);

    const std::vector<uint8_t> cert = {0x30, 0x03, 0x02, 0x01, 0x07};
    ASSERT_EQ(client.WriteCertificate(slotId, alpha, 1, cert), 0u);
    std::vector<uint8_t> der;
    ASSERT_EQ(client.ReadCertificate(slotId, alpha, 1, der), 0u);
    EXPECT_EQ(der, cert);

    ASSERT_EQ(client.DeleteContainer(slotId, beta), 0u);
    ASSERT_EQ(client.Containers(slotId, containers), 0u);
    ASSERT_EQ(containers.size(), 1u);
    EXPECT_EQ(containers[0].name, "Alpha");

    // An unknown slot: the service's error, with the sub-operation's reply code.
    EXPECT_EQ(client.Containers(slotId + 1000, containers), kNoSmartCard);
    EXPECT_EQ(client.LastReplyCode(), 0xA002);
    EXPECT_TRUE(containers.empty());
}

// A peer on a socket pair that answers each request with one canned reply (plain framing).
class CannedPeer {
public:
    CannedPeer(CStreamClient& client, uint16_t code, uint32_t status, std::vector<uint8_t> payload) {
        int pair[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        client.Adopt(static_cast<SocketHandle>(pair[0]));
        m_fd = pair[1];
        m_thread = std::thread([this, code, status, payload] {
            uint8_t header[8];
            if (::recv(m_fd, header, 8, MSG_WAITALL) != 8) return;
            std::vector<uint8_t> rest(ReadU16(header + 2));
            if (!rest.empty() && ::recv(m_fd, rest.data(), rest.size(), MSG_WAITALL) != static_cast<ssize_t>(rest.size())) {
                return;
            }
            std::vector<uint8_t> reply(8 + payload.size());
            MsgHeader {code, static_cast<uint16_t>(payload.size()), status}.Encode(reply.data());
            std::copy(payload.begin(), payload.end(), reply.begin() + 8);
            (void)::send(m_fd, reply.data(), reply.size(), 0);
        });
    }
    ~CannedPeer() {
        m_thread.join();
        ::close(m_fd);
    }

private:
    int m_fd = -1;
    std::thread m_thread;
};

TEST(StreamTokenClientReplies, RepliesThatDoNotFitTheRequestAreRefused) {
    using Call = std::function<uint32_t(CStreamTokenClient&)>;
    const Call slots = [](CStreamTokenClient& c) {
        std::vector<TokenSlotEntry> out;
        const uint32_t rc = c.SlotList(out);
        return rc == 0 && out.size() != 1 ? 0xBADu : rc;
    };
    const Call state = [](CStreamTokenClient& c) {
        TokenSlotEntry out;
        return c.SlotState(7, out);
    };
    const Call byIndex = [](CStreamTokenClient& c) {
        TokenContainerEntry out;
        return c.ContainerAt(7, 0, out);
    };
    const Call publicKey = [](CStreamTokenClient& c) {
        TokenPublicKey out;
        return c.GetPublicKey(7, 1, 1, out);
    };
    const Call login = [](CStreamTokenClient& c) {
        TokenLoginState out;
        return c.Login(7, "1234", out);
    };
    const Call raw = [](CStreamTokenClient& c) {
        std::vector<uint8_t> out;
        return c.RsaRaw(7, 1, 1, true, std::vector<uint8_t>(4, 1), out);
    };
    std::vector<uint8_t> oneSlot(2 + 92, 0);
    oneSlot[0] = 1;
    std::vector<uint8_t> publicKey8(12 + 1, 0);
    WriteU32(publicKey8.data() + 4, 8);
    std::vector<uint8_t> publicKey8Long(12 + 2, 0);
    WriteU32(publicKey8Long.data() + 4, 8);
    const struct {
        const char* name;
        Call call;
        uint16_t code;
        uint32_t status;
        std::vector<uint8_t> payload;
        uint32_t expected;
    } cases[] = {
        {"one slot", slots, 0xF001, 0, oneSlot, 0},
        {"slot count beyond the records", slots, 0xF001, 0, {2, 0}, 0x80090005},
        {"slot list with a stray byte", slots, 0xF001, 0, std::vector<uint8_t>(2 + 92 + 1, 0), 0x80090005},
        {"slot list under another code", slots, 0xF002, 0, {0, 0}, 0x80090005},
        {"error reply", state, 0xF002, 0x80090011, {}, 0x80090011},
        {"short slot entry", state, 0xF002, 0, std::vector<uint8_t>(91, 0), 0x80090005},
        {"container name without its NUL", byIndex, 0xA002, 0, {1, 0, 0, 0, 'A'}, 0x80090005},
        {"container name with an inner NUL", byIndex, 0xA002, 0, {1, 0, 0, 0, 'A', 0, 'B', 0}, 0x80090005},
        {"container reply under the short-request code", byIndex, 0xF011, 0, {1, 0, 0, 0, 'A', 0}, 0x80090005},
        {"container reply", byIndex, 0xA002, 0, {1, 0, 0, 0, 'A', 0}, 0},
        {"modulus of one byte for 8 bits", publicKey, 0xA022, 0, publicKey8, 0},
        {"modulus longer than its bits", publicKey, 0xA022, 0, publicKey8Long, 0x80090005},
        {"login flag out of range", login, 0xA012, 0, {2, 0, 0, 0}, 0x80090005},
        {"login reply", login, 0xA012, 0, {0, 0, 8, 0}, 0},
        {"raw output of another size", raw, 0xA024, 0, {1, 2, 3}, 0x80090005},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform platform;
        CStreamClient connection(platform.sockets);
        uint32_t rc = 0;
        {
            CannedPeer peer(connection, c.code, c.status, c.payload);
            CStreamTokenClient client(connection);
            rc = c.call(client);
        }
        EXPECT_EQ(rc, c.expected);
    }
}

}  // namespace
}  // namespace corvane::test
