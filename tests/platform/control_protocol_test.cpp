#include <gtest/gtest.h>

#include "platform/posix/control_protocol.h"

namespace corvane {
namespace {

TEST(ControlProtocol, RequestsAndRepliesRoundTrip) {
    posix::ControlRequest request {14, 5, 3};
    auto parsed = posix::ParseControlRequest(posix::FormatControlRequest(request));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->control, 14u);
    EXPECT_EQ(parsed->eventType, 5u);
    EXPECT_EQ(parsed->sessionId, 3u);
    auto reply = posix::ParseControlReply(posix::FormatControlReply({120, 4}));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result, 120u);
    EXPECT_EQ(reply->state, 4u);
}

TEST(ControlProtocol, GarbageIsRejected) {
    EXPECT_FALSE(posix::ParseControlRequest(""));
    EXPECT_FALSE(posix::ParseControlRequest("CONTROL x"));
    EXPECT_FALSE(posix::ParseControlRequest("STOP 1 2 3"));
    EXPECT_FALSE(posix::ParseControlReply("4"));
}

TEST(ControlProtocol, NoServiceGivesConnectionErrorNotAHang) {
    posix::ControlReply reply;
    EXPECT_EQ(posix::SendControl("/nonexistent/control.sock", {4, 0, 0}, reply), ENOENT);
}

}  // namespace
}  // namespace corvane
