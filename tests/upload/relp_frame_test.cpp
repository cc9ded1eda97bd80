#include "upload/relp_frame.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(RelpFrame, EncodesWithAndWithoutData) {
    EXPECT_EQ(EncodeRelpFrame(1, "open", "relp_version=0"), "1 open 14 relp_version=0\n");
    EXPECT_EQ(EncodeRelpFrame(7, "close", ""), "7 close 0\n");
}

struct ParseCase {
    const char* label;
    std::string bytes;
    RelpParse expected;
    uint32_t txnr;
    const char* command;
    const char* data;
};

class RelpReplyParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(RelpReplyParse, TakesOrRefusesTheFrame) {
    const ParseCase& c = GetParam();
    CRelpReplyParser parser;
    parser.Append(c.bytes.data(), c.bytes.size());
    RelpFrame frame;
    ASSERT_EQ(parser.Next(frame), c.expected) << c.label;
    if (c.expected == RelpParse::Frame) {
        EXPECT_EQ(frame.nTxnr, c.txnr);
        EXPECT_EQ(frame.strCommand, c.command);
        EXPECT_EQ(frame.strData, c.data);
        EXPECT_EQ(parser.Buffered(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RelpReplyParse,
    ::testing::Values(
        ParseCase {"ok", "2 rsp 6 200 OK\n", RelpParse::Frame, 2, "rsp", "200 OK"},
        ParseCase {"no data", "0 serverclose 0\n", RelpParse::Frame, 0, "serverclose", ""},
        ParseCase {"zero length then space", "3 rsp 0 \n", RelpParse::Frame, 3, "rsp", ""},
        ParseCase {"data holds line feeds", std::string("1 rsp 9 200 OK\nx=\n"), RelpParse::Frame, 1, "rsp",
                   "200 OK\nx="},
        ParseCase {"nine-digit txnr", "999999999 rsp 6 200 OK\n", RelpParse::Frame, 999999999, "rsp", "200 OK"},
        ParseCase {"empty", "", RelpParse::NeedMore, 0, "", ""},
        ParseCase {"in the txnr", "12", RelpParse::NeedMore, 0, "", ""},
        ParseCase {"in the data", "2 rsp 6 200", RelpParse::NeedMore, 0, "", ""},
        ParseCase {"trailer missing", "2 rsp 6 200 OK", RelpParse::NeedMore, 0, "", ""},
        ParseCase {"ten-digit txnr", "1234567890 rsp 0\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"letter in txnr", "1a rsp 0\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"no txnr", " rsp 0\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"digit in command", "1 rs9 0\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"empty command", "1  0\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"33-letter command", "1 " + std::string(33, 'a') + " 0\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"length too long for the data", "1 rsp 3 200 OK\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"length with no data", "1 rsp 5\n", RelpParse::Invalid, 0, "", ""},
        ParseCase {"length beyond the limit", "1 rsp 999999999 ", RelpParse::Invalid, 0, "", ""},
        ParseCase {"garbage", "HTTP/1.1 400 Bad Request\r\n", RelpParse::Invalid, 0, "", ""}),
    [](const ::testing::TestParamInfo<ParseCase>& info) {
        std::string name;
        for (const char* p = info.param.label; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(RelpReplyParser, TakesFramesArrivingByteByByteAndSeveralAtOnce) {
    const std::string bytes = "1 rsp 6 200 OK\n2 rsp 11 500 refused\n0 serverclose 0\n";
    CRelpReplyParser parser;
    std::vector<RelpFrame> frames;
    for (char c : bytes) {
        parser.Append(&c, 1);
        RelpFrame frame;
        while (parser.Next(frame) == RelpParse::Frame) frames.push_back(frame);
    }
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].strData, "500 refused");
    EXPECT_EQ(frames[2].strCommand, "serverclose");
}

TEST(RelpResponse, CodeIsTheLeadingThreeDigits) {
    EXPECT_EQ(RelpResponseCode("200 OK"), 200);
    EXPECT_EQ(RelpResponseCode("200"), 200);
    EXPECT_EQ(RelpResponseCode("200\nrelp_version=0"), 200);
    EXPECT_EQ(RelpResponseCode("500 error"), 500);
    EXPECT_EQ(RelpResponseCode("20"), -1);
    EXPECT_EQ(RelpResponseCode("2000"), -1);
    EXPECT_EQ(RelpResponseCode("OK"), -1);
}

TEST(RelpTxnr, WrapsFromTheLargestBackToOne) {
    EXPECT_EQ(NextRelpTxnr(1), 2u);
    EXPECT_EQ(NextRelpTxnr(kRelpMaxTxnr), 1u);
}

}  // namespace
}  // namespace corvane
