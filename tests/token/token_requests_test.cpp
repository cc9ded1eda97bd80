// The CSP's token requests 0x7001, 0x7002 and 0x7011, handled as the stream channel hands them
// over: payload in, status and reply out.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/openssl_oracle.h"
#include "token/p11_error.h"
#include "token/token_fixture.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

class TokenRequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.MakeToken("alpha");
        world.UseTestTokenModule();
        ASSERT_EQ(world.tokens.Binding().InitP11(), 0u);
        slotId = world.tokens.Binding().SlotAt(0).SlotId();
        TokenWorld::WaitForFirstListing(world.tokens.Binding().SlotAt(0));
        requests.GetLogonComponentState = [this] { return logonState; };
        requests.RecordCardSignIn = [this](const TokenSignIn& signIn) { signIns.push_back(signIn); };
        world.tokens.Containers().GetCertificateUpnText = [](const uint8_t*, size_t) {
            return std::u16string(u"anna@contoso.com");
        };
    }
    // Sends one 0x7011 operation; the reply payload in `payload`.
    uint32_t Operation(uint16_t subOpcode, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> request = TokenOperation(slotId, subOpcode, data);
        return Send(request);
    }
    uint32_t Send(std::vector<uint8_t>& request) {
        arena.Release();
        reply = {};
        const uint32_t status = requests.HandleTokenOperation(request.data(), request.size(), arena, reply);
        payload.assign(reply.pPayload, reply.pPayload + reply.wLength);
        return status;
    }
    uint32_t LogIn(const std::string& pin) {
        const uint32_t status = Operation(TokenRequest::Login, Text(pin));
        return status != 0 ? status : payload.at(0);
    }
    uint32_t CreateContainer(const std::string& name) {
        EXPECT_EQ(Operation(TokenRequest::CreateContainer, Text(name)), 0u);
        return payload.size() == 4 ? ReadU32(payload.data()) : 0;
    }

    TokenWorld world;
    CTokenRequests& requests = world.tokens.Requests();
    uint32_t slotId = 0;
    uint16_t logonState = 0;
    std::vector<TokenSignIn> signIns;
    ReplyArena arena;
    TokenReply reply;
    std::vector<uint8_t> payload;
};

TEST_F(TokenRequestsTest, SlotListCopiesTheSlotTable) {
    ASSERT_EQ(requests.HandleSlotList(nullptr, 0, arena, reply), 0u);
    EXPECT_EQ(reply.wCode, 0xF001);
    ASSERT_EQ(reply.wLength, 2 + 92 * 2);
    EXPECT_EQ(ReadU16(reply.pPayload), 2);
    EXPECT_EQ(ReadU32(reply.pPayload + 2), slotId);
    EXPECT_EQ(ReadU32(reply.pPayload + 6), 1u);
    const uint8_t one = 0;
    EXPECT_EQ(requests.HandleSlotList(&one, 1, arena, reply), TokenError::NteBadData);
}

TEST_F(TokenRequestsTest, SlotStatePollsTheToken) {
    uint8_t id[4];
    WriteU32(id, slotId);
    world.SetPresent(slotId, false);
    ASSERT_EQ(requests.HandleSlotState(id, 4, arena, reply), 0u);
    EXPECT_EQ(reply.wCode, 0xF002);
    ASSERT_EQ(reply.wLength, 92);
    EXPECT_EQ(ReadU32(reply.pPayload + 4), 0u);
    world.SetPresent(slotId, true);
    ASSERT_EQ(requests.HandleSlotState(id, 4, arena, reply), 0u);
    EXPECT_EQ(ReadU32(reply.pPayload + 4), 1u);
    EXPECT_NE(reply.pPayload[76], 0);  // the serial is known again
    EXPECT_EQ(requests.HandleSlotState(id, 3, arena, reply), TokenError::NteBadData);
    WriteU32(id, slotId + 1);
    EXPECT_EQ(requests.HandleSlotState(id, 4, arena, reply), TokenError::NteNotFound);
}

TEST_F(TokenRequestsTest, MalformedOperationsAreRefusedWithTheirCodes) {
    const uint32_t handle = [&] {
        LogIn(kUserPin);
        return CreateContainer("Alpha");
    }();
    struct Case {
        const char* label;
        std::vector<uint8_t> request;
        uint16_t code;
        uint32_t status;
    };
    std::vector<uint8_t> longByOne = TokenOperation(slotId, 0x2011, {});
    longByOne.push_back(0);
    std::vector<uint8_t> shortByOne = TokenOperation(slotId, 0x2002, U32(0));
    shortByOne.pop_back();
    const std::vector<Case> cases = {
        {"too short for a sub-opcode", std::vector<uint8_t>(11), 0xF011, TokenError::NteBadLen},
        {"length one above the sub-length", longByOne, 0xA011, TokenError::NteBadLen},
        {"length one below the sub-length", shortByOne, 0xA002, TokenError::NteBadLen},
        {"sub-opcode with bit 15", TokenOperation(slotId, 0xA002, U32(0)), 0xA002, TokenError::NteBadData},
        {"unknown slot", TokenOperation(slotId + 1, 0x2002, U32(0)), 0xA002, TokenError::ScardNoSmartcard},
        {"unknown sub-opcode", TokenOperation(slotId, 0x2013, {}), 0xA013, TokenError::NteNotSupported},
        {"index of three bytes", TokenOperation(slotId, 0x2002, {0, 0, 0}), 0xA002, TokenError::NteBadData},
        {"name without NUL", TokenOperation(slotId, 0x2003, {'A'}), 0xA003, TokenError::NteBadData},
        {"name with inner NUL", TokenOperation(slotId, 0x2001, {'A', 0, 'B', 0}), 0xA001, TokenError::NteBadData},
        {"empty name data", TokenOperation(slotId, 0x2001, {}), 0xA001, TokenError::NteBadData},
        {"login state with data", TokenOperation(slotId, 0x2011, {0}), 0xA011, TokenError::NteBadData},
        {"one PIN where two are due", TokenOperation(slotId, 0x2015, Text("1234")), 0xA015, TokenError::NteBadData},
        {"PIN pair of no bytes", TokenOperation(slotId, 0x2016, {}), 0xA016, TokenError::NteBadData},
        {"public key of 7 bytes", TokenOperation(slotId, 0x2022, std::vector<uint8_t>(7)), 0xA022,
         TokenError::NteBadData},
        {"generation of 12 bytes", TokenOperation(slotId, 0x2021, std::vector<uint8_t>(12)), 0xA021,
         TokenError::NteBadData},
        {"raw operation without a block", TokenOperation(slotId, 0x2024, Concat({U32(handle), U32(1)})), 0xA024,
         TokenError::NteBadData},
        {"unknown container", TokenOperation(slotId, 0x2022, Concat({U32(handle + 1000), U32(1)})), 0xA022,
         TokenError::NteBadKeyset},
        {"bad key spec", TokenOperation(slotId, 0x2022, Concat({U32(handle), U32(3)})), 0xA022,
         TokenError::NteBadData},
        {"absurd modulus size", TokenOperation(slotId, 0x2021, Concat({U32(handle), U32(1), U32(0x7FFFFFFF), U32(3)})),
         0xA021, TokenError::NteBadData},
        {"initialisation without PINs carrying data", TokenOperation(slotId, 0x2102, {1}), 0xA102,
         TokenError::NteBadData},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Send(c.request), c.status);
        EXPECT_EQ(reply.wCode, c.code);
        EXPECT_EQ(reply.wLength, 0);
    }
}

TEST_F(TokenRequestsTest, ContainersAndKeysThroughTheOperations) {
    ASSERT_EQ(Operation(TokenRequest::GetLoginState, {}), 0u);
    EXPECT_EQ(payload, (std::vector<uint8_t> {0, 0, 255, 0}));
    EXPECT_EQ(LogIn("0000"), 0u);  // wrong PIN: a reply whose first byte is 0
    EXPECT_EQ(LogIn(kUserPin), 1u);
    EXPECT_EQ(payload, (std::vector<uint8_t> {1, 0, 255, 0}));
    const uint32_t alpha = CreateContainer("Alpha");
    EXPECT_EQ(Operation(TokenRequest::CreateContainer, Text("Alpha")), TokenError::NteExists);
    const uint32_t beta = CreateContainer("Beta");

    ASSERT_EQ(Operation(TokenRequest::GetContainerByIndex, U32(1)), 0u);
    EXPECT_EQ(payload, Concat({U32(beta), Text("Beta")}));
    EXPECT_EQ(Operation(TokenRequest::GetContainerByIndex, U32(2)), TokenError::NoMoreItems);
    ASSERT_EQ(Operation(TokenRequest::FindContainerByName, Text("")), 0u);
    EXPECT_EQ(payload, Concat({U32(alpha), Text("Alpha")}));

    ASSERT_EQ(Operation(TokenRequest::GenerateKeyPair, Concat({U32(alpha), U32(2), U32(1024), U32(65537)})), 0u);
    EXPECT_EQ(reply.wCode, 0xA021);
    ASSERT_EQ(payload.size(), 12u + 128);
    EXPECT_EQ(ReadU32(payload.data()), 2u);
    EXPECT_EQ(ReadU32(payload.data() + 4), 1024u);
    EXPECT_EQ(ReadU32(payload.data() + 8), 65537u);
    const std::vector<uint8_t> generated = payload;
    ASSERT_EQ(Operation(TokenRequest::GetPublicKey, Concat({U32(alpha), U32(2)})), 0u);
    EXPECT_EQ(payload, generated);

    std::vector<uint8_t> block(128, 0x11);
    block[0] = 0;
    ASSERT_EQ(Operation(TokenRequest::RsaPrivate, Concat({U32(alpha), U32(2), block})), 0u);
    ASSERT_EQ(payload.size(), 128u);
    ASSERT_EQ(Operation(TokenRequest::RsaPublic, Concat({U32(alpha), U32(2), payload})), 0u);
    EXPECT_EQ(payload, block);
    EXPECT_EQ(Operation(TokenRequest::RsaPrivate, Concat({U32(alpha), U32(2), std::vector<uint8_t>(127)})),
              TokenError::NteBadLen);

    const std::vector<uint8_t> cert = {0x30, 0x03, 0x02, 0x01, 0x05};
    ASSERT_EQ(Operation(TokenRequest::WriteCertificate, Concat({U32(alpha), U32(2), cert})), 0u);
    EXPECT_EQ(reply.wLength, 0);
    ASSERT_EQ(Operation(TokenRequest::ReadCertificate, Concat({U32(alpha), U32(2)})), 0u);
    EXPECT_EQ(payload, cert);
    EXPECT_EQ(Operation(TokenRequest::ReadCertificate, Concat({U32(alpha), U32(1)})), TokenError::NteNotFound);

    ASSERT_EQ(Operation(TokenRequest::DeleteContainer, U32(alpha)), 0u);
    ASSERT_EQ(Operation(TokenRequest::GetContainerByIndex, U32(0)), 0u);
    EXPECT_EQ(payload, Concat({U32(beta), Text("Beta")}));
}

TEST_F(TokenRequestsTest, RawOperationMatchesOpenSslWithTheSameKey) {
    LogIn(kUserPin);
    const uint32_t alpha = CreateContainer("Alpha");
    EvpKey key = OpenSslGenerateRsa(2048);
    const std::vector<uint8_t> der = OpenSslPrivateDer(key.get());
    ASSERT_EQ(Operation(TokenRequest::ImportKeyPair, Concat({U32(alpha), U32(1), der})), 0u);
    std::vector<uint8_t> block(256);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 13 + 1);
    block[0] = 0x01;
    ASSERT_EQ(Operation(TokenRequest::RsaPrivate, Concat({U32(alpha), U32(1), block})), 0u);
    EXPECT_EQ(payload, OpenSslRawRsa(key.get(), true, block).value());
}

TEST_F(TokenRequestsTest, PrivateOperationDuringALogonLeavesASignIn) {
    LogIn(kUserPin);
    const uint32_t alpha = CreateContainer("Alpha");
    ASSERT_EQ(Operation(TokenRequest::GenerateKeyPair, Concat({U32(alpha), U32(1), U32(1024), U32(65537)})), 0u);
    const std::vector<uint8_t> cert = {0x30, 0x03, 0x02, 0x01, 0x05};
    ASSERT_EQ(Operation(TokenRequest::WriteCertificate, Concat({U32(alpha), U32(1), cert})), 0u);
    const std::vector<uint8_t> raw = Concat({U32(alpha), U32(1), std::vector<uint8_t>(128, 0)});
    for (uint16_t state : {1, 2, 3}) {
        logonState = state;
        world.platform.clock.Advance(1000);
        ASSERT_EQ(Operation(TokenRequest::RsaPrivate, raw), 0u);
        ASSERT_EQ(Operation(TokenRequest::RsaPublic, raw), 0u);  // never a sign-in
    }
    ASSERT_EQ(signIns.size(), 2u);
    EXPECT_EQ(signIns[1].strUpn, u"anna@contoso.com");
    EXPECT_EQ(signIns[1].dwTick, world.platform.clock.GetTickCount());
    uint8_t serial[16];
    world.tokens.Binding().SlotAt(0).GetSerial(serial);
    EXPECT_EQ(std::memcmp(signIns[1].serial.data(), serial, 16), 0);
    EXPECT_EQ(signIns[1].strReader.rfind(u"SoftHSM slot ID 0x", 0), 0u);
}

TEST_F(TokenRequestsTest, PinsInTheRequestAreWipedAfterUse) {
    std::vector<uint8_t> request = TokenOperation(slotId, TokenRequest::ChangePin, Concat({Text(kUserPin), Text("2468")}));
    ASSERT_EQ(Send(request), 0u);
    EXPECT_EQ(payload, std::vector<uint8_t>(4, 0));
    for (size_t i = 12; i < request.size(); ++i) EXPECT_EQ(request[i], 0) << i;
    EXPECT_EQ(LogIn("2468"), 1u);
    std::vector<uint8_t> init = TokenOperation(slotId, TokenRequest::InitTokenWithPins, Concat({Text(kSoPin), Text("1357")}));
    ASSERT_EQ(Send(init), 0u);
    EXPECT_EQ(reply.wLength, 0);
    EXPECT_EQ(LogIn("1357"), 1u);
}

}  // namespace
}  // namespace corvane::test
