// What every tool prints the same way: JSON strings escaped as RFC 8259 asks, the JSON writer's
// punctuation, result codes with their texts and socket errors in the system's words.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "json_text.h"
#include "status_text.h"

namespace corvane::tools {
namespace {

TEST(JsonTextTest, StringsAreEscapedAsTheStandardAsks) {
    const struct {
        const char* label;
        std::string in;
        std::string out;
    } cases[] = {
        {"plain", "Anna's phone", "\"Anna's phone\""},
        {"empty", "", "\"\""},
        {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
        {"named controls", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {"other controls", std::string("\x01\x1f\x00", 3), "\"\\u0001\\u001f\\u0000\""},
        {"DEL and slash stay", "\x7f/", "\"\x7f/\""},
        {"UTF-8 stays", "\xE6\x89\x8B \xF0\x9F\x93\xB1 \xC3\xA9", "\"\xE6\x89\x8B \xF0\x9F\x93\xB1 \xC3\xA9\""},
        {"stray continuation byte", "a\x80z", "\"a\xEF\xBF\xBDz\""},
        {"cut sequence at the end", "a\xE6\x89", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"overlong slash", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"surrogate", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"above U+10FFFF", "\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.label;
}

TEST(JsonTextTest, TheWriterPutsCommasAndBracketsInPlace) {
    JsonWriter j;
    j.BeginObject().Key("n").Number(-58).Key("list").BeginArray();
    j.BeginObject().Key("ok").Bool(true).EndObject().BeginObject().Key("none").Null().EndObject();
    j.String("x").EndArray().Key("empty").BeginArray().EndArray().EndObject();
    EXPECT_EQ(j.Text(), "{\"n\":-58,\"list\":[{\"ok\":true},{\"none\":null},\"x\"],\"empty\":[]}\n");
}

class StatusTextTest : public ::testing::Test {
protected:
    // The texts follow the user's locale; these cases are the English ones.
    void SetUp() override {
        if (const char* saved = std::getenv("LC_ALL")) m_saved = saved;
        ::setenv("LC_ALL", "C", 1);
    }
    void TearDown() override {
        if (m_saved) {
            ::setenv("LC_ALL", m_saved->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }
    std::optional<std::string> m_saved;
};

TEST_F(StatusTextTest, AFailedStatusIsFollowedByItsText) {
    const struct {
        uint32_t status;
        const char* suffix;
    } cases[] = {
        {0, ""},
        {0x20000005, " (The console is not in a logonable state.)"},
        {0x20000014, " (The specified user is locked)"},
        {0x80090029, " (The requested operation is not supported.)"},
        {1167, " (The device is not connected.)"},
        {0x20000099, " (Unknown Error! : 536871065[0x20000099])"},
    };
    for (const auto& c : cases) EXPECT_EQ(StatusTextSuffix(c.status), c.suffix) << std::hex << c.status;
}

TEST_F(StatusTextTest, TheTextsFollowTheLocaleLanguage) {
    ::setenv("LC_ALL", "zh_CN.UTF-8", 1);
    EXPECT_EQ(ResultText(0x20000014), "\xE6\x8C\x87\xE5\xAE\x9A\xE7\x9A\x84\xE7\x94\xA8\xE6\x88\xB7\xE5\xB7\xB2\xE9\x94\x81\xE5\xAE\x9A");
}

TEST_F(StatusTextTest, SocketErrorsAreGivenInTheSystemsWords) {
    EXPECT_EQ(DescribeSocketError(10061), "error 10061: Connection refused");
    EXPECT_EQ(DescribeSocketError(10060), "error 10060: Connection timed out");
    // A code with no errno of its own keeps the Windows Sockets text, and one with none its number.
    EXPECT_NE(DescribeSocketError(11001).find("error 11001: "), std::string::npos);
    EXPECT_EQ(DescribeSocketError(12345), "error 12345");
}

}  // namespace
}  // namespace corvane::tools
