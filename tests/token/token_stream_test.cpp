// The CSP's token requests as they arrive on the stream channel: the channel hands whole
// messages to the token layer through the composition root's adapter, and the replies go back
// with the channel's codes, plain or under the session key.
#include <gtest/gtest.h>

#include "channel/stream_world.h"
#include "service/token_stream_requests.h"
#include "token/token_fixture.h"
#include "wire/byte_order.h"

namespace corvane::test {
namespace {

class TokenStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        tokenWorld.MakeToken("alpha");
        tokenWorld.UseTestTokenModule();
        ASSERT_EQ(tokenWorld.tokens.Binding().InitP11(), 0u);
        slotId = tokenWorld.tokens.Binding().SlotAt(0).SlotId();
        tokenWorld.tokens.Requests().GetLogonComponentState = [] { return uint16_t {0}; };
        tokenWorld.tokens.Requests().RecordCardSignIn = [](const TokenSignIn&) {};
        stream.handler.SetTokenRequests(&adapter);
    }

    TokenWorld tokenWorld;
    StreamWorld stream;
    CTokenStreamRequests adapter {tokenWorld.tokens.Requests()};
    uint32_t slotId = 0;
};

TEST_F(TokenStreamTest, SlotListAndStateComeFromTheTokenLayer) {
    for (bool keyed : {false, true}) {
        SCOPED_TRACE(keyed ? "keyed" : "plain");
        if (keyed) stream.Key();
        const StreamAnswer list = stream.Request(0x7001);
        EXPECT_EQ(list.header.code, 0xF001);
        ASSERT_EQ(list.header.status, 0u);
        ASSERT_GE(list.payload.size(), 2u);
        EXPECT_GE(ReadU16(list.payload.data()), 1u);

        const StreamAnswer state = stream.Request(0x7002, 0, U32(slotId));
        EXPECT_EQ(state.header.code, 0xF002);
        EXPECT_EQ(state.header.status, 0u);
    }
}

TEST_F(TokenStreamTest, OperationRepliesCarryTheSubOperationCode) {
    stream.Key();
    const StreamAnswer created =
        stream.Request(0x7011, 0, TokenOperation(slotId, TokenRequest::CreateContainer, Text("stream-box")));
    EXPECT_EQ(created.header.code, TokenRequest::CreateContainer | 0x8000);
    EXPECT_EQ(created.header.status, 0u);
    EXPECT_EQ(created.payload.size(), 4u);

    const StreamAnswer unknownSlot =
        stream.Request(0x7011, 0, TokenOperation(slotId + 1000, TokenRequest::CreateContainer, Text("x")));
    EXPECT_EQ(unknownSlot.header.code, TokenRequest::CreateContainer | 0x8000);
    EXPECT_NE(unknownSlot.header.status, 0u);
    EXPECT_EQ(unknownSlot.header.length, 0u);
}

}  // namespace
}  // namespace corvane::test
