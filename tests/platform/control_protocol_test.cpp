#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

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

TEST(ControlProtocol, QuestionsAndAnswersRoundTrip) {
    EXPECT_EQ(posix::ParseQueryRequest(posix::FormatQueryRequest("devices")), "devices");
    const std::vector<std::string> lines = {"now\t1", "", "console\tanna"};
    bool known = false;
    EXPECT_EQ(posix::ParseQueryReply(posix::FormatQueryReply(true, lines), known), lines);
    EXPECT_TRUE(known);
    EXPECT_EQ(posix::ParseQueryReply(posix::FormatQueryReply(true, {}), known), std::vector<std::string> {});
    EXPECT_TRUE(known);
}

TEST(ControlProtocol, MalformedQuestionsAndAnswersAreRefused) {
    for (const char* line : {"", "QUERY ", "QUERY dev ices", "QUERY d\x01", "query devices", "CONTROL 4 0 0"}) {
        EXPECT_FALSE(posix::ParseQueryRequest(line)) << line;
    }
    const struct {
        const char* label;
        std::string text;
    } malformed[] = {
        {"nothing", ""},
        {"no line end", "OK 0"},
        {"fewer lines than counted", "OK 2\nnow\t1\n"},
        {"more lines than counted", "OK 1\na\nb\n"},
        {"last line cut", "OK 1\nnow\t1"},
        {"count not a number", "OK x\n"},
        {"count too long", "OK 12345678901\n"},
    };
    for (const auto& c : malformed) {
        bool known = true;
        EXPECT_FALSE(posix::ParseQueryReply(c.text, known)) << c.label;
    }
    // The service does not know the question, or only understands controls: no answer, no error.
    for (const char* text : {"UNKNOWN\n", "87 4\n"}) {
        bool known = true;
        const auto lines = posix::ParseQueryReply(text, known);
        ASSERT_TRUE(lines) << text;
        EXPECT_FALSE(known) << text;
    }
}

TEST(ControlProtocol, NoServiceGivesConnectionErrorNotAHang) {
    posix::ControlReply reply;
    EXPECT_EQ(posix::SendControl("/nonexistent/control.sock", {4, 0, 0}, reply), ENOENT);
    std::vector<std::string> lines;
    EXPECT_EQ(posix::SendQuery("/nonexistent/control.sock", "devices", lines), ENOENT);
}

}  // namespace
}  // namespace corvane
