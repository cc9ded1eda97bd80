// Result texts and operation names in the three languages, and the system's messages.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "wire/byte_order.h"
#include "wire/result_text.h"
#include "wire/result_text_tables.h"
#include "platform/posix/posix_system_messages.h"
#include "platform/system_message_table.h"
#include "platform/text.h"

namespace corvane {
namespace {

constexpr uint16_t kEnglishUs = 1033;
constexpr uint16_t kSimplified = 2052;
constexpr uint16_t kTraditional = 1028;

// The system's messages as a test sets them.
class FakeSystemMessages final : public ISystemMessages {
public:
    bool FormatSystemMessage(uint32_t code, std::u16string& out) override {
        const auto it = texts.find(code);
        if (it == texts.end()) return false;
        out = it->second;
        return true;
    }
    std::map<uint32_t, std::u16string> texts;
};

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }

TEST(ResultTextTest, LanguageFromUiLanguage) {
    EXPECT_EQ(LanguageFromUiLanguage(kTraditional), TextLanguage::TraditionalChinese);
    EXPECT_EQ(LanguageFromUiLanguage(kSimplified), TextLanguage::SimplifiedChinese);
    EXPECT_EQ(LanguageFromUiLanguage(kEnglishUs), TextLanguage::English);
    EXPECT_EQ(LanguageFromUiLanguage(0x0C04), TextLanguage::English) << "Chinese (Hong Kong) has no table";
}

TEST(ResultTextTest, TablesHoldTheSameIdsInTheSameOrder) {
    const auto english = TextTable(TextLanguage::English);
    for (TextLanguage language : {TextLanguage::SimplifiedChinese, TextLanguage::TraditionalChinese}) {
        const auto table = TextTable(language);
        ASSERT_EQ(table.size(), kTextTableSize);
        for (size_t i = 0; i < table.size(); ++i) {
            EXPECT_EQ(table[i].nId, english[i].nId) << i;
            EXPECT_FALSE(table[i].strText.empty()) << i;
        }
    }
}

TEST(ResultTextTest, GetResultText) {
    posix::PosixSystemMessages system;
    const struct {
        uint16_t language;
        uint32_t code;
        const char* want;
    } cases[] = {
        {kSimplified, 0x20000014, "指定的用户已锁定"},
        {kTraditional, 0x20000014, "指定的用戶已鎖定"},
        {kEnglishUs, 0x20000014, "The specified user is locked"},
        {kEnglishUs, 0x20010003, "BLE Channel Closed"},
        {kEnglishUs, 0x20000099, "Unknown Error! : 536871065[0x20000099]"},
        {kSimplified, 0x20000099, "未知的错误! : 536871065[0x20000099]"},
        // An id of an operation name is no result code: the system gives its text.
        {kEnglishUs, 0x0000000B, "An attempt was made to load a program with an incorrect format.\r\n"},
        {kEnglishUs, 0x80090005, "Bad Data.\r\n"},
        {kSimplified, 0x80090005, "Bad Data.\r\n"},
        {kEnglishUs, 0x80070005, "Access is denied.\r\n"},
        {kEnglishUs, 10061, "No connection could be made because the target machine actively refused it.\r\n"},
        {kEnglishUs, 0x80091234, "Unknown Error! : -2146889164[0x80091234]"},
    };
    for (const auto& c : cases) {
        const CMessageTexts texts(c.language, system);
        EXPECT_EQ(U8(texts.GetResultText(c.code)), c.want) << std::hex << c.code << " in " << std::dec << c.language;
    }
}

TEST(ResultTextTest, GetTextFallsBackToTheDefault) {
    FakeSystemMessages system;
    const CMessageTexts chinese(kSimplified, system);
    EXPECT_EQ(U8(chinese.GetText(0x0D, u"Re-Logon")), "重新登录");
    EXPECT_EQ(U8(chinese.GetText(0x0E, u"fallback")), "fallback");
    const CMessageTexts english(kEnglishUs, system);
    EXPECT_EQ(U8(english.GetText(0x65, u"")), "Unknown Error!");
}

TEST(ResultTextTest, ActionNames) {
    FakeSystemMessages system;
    const struct {
        uint16_t language;
        std::vector<const char*> session, shutdown;  // types 1, 2, 3, 4, 0
    } cases[] = {
        {kEnglishUs,
         {"Logoff", "Locking", "Disconnect", "Error Code", "Error Code"},
         {"Shutdown", "Cancel Shutdown", "Query Shutdown", "Error Code", "Error Code"}},
        {kSimplified,
         {"退出登录", "锁定", "断开连接", "Error Code", "Error Code"},
         {"关机", "取消关机", "查询关机", "Error Code", "Error Code"}},
        {kTraditional,
         {"退出登錄", "鎖定", "斷開連接", "Error Code", "Error Code"},
         {"關機", "取消關機", "查詢關機", "Error Code", "Error Code"}},
    };
    const int32_t types[] = {1, 2, 3, 4, 0};
    for (const auto& c : cases) {
        const CMessageTexts texts(c.language, system);
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(U8(texts.GetSessionActionName(types[i])), c.session[i]) << c.language << " " << types[i];
            EXPECT_EQ(U8(texts.GetShutdownActionName(types[i])), c.shutdown[i]) << c.language << " " << types[i];
        }
    }
}

// A remote logoff reply: header, then the text's place at offset 20 with one NUL already there.
struct AppendCase {
    const char* label;
    uint16_t language;
    uint32_t code;
    size_t replySize;
    uint16_t length;
    std::string want;  // the text written at offset 20; empty when nothing is
};
void PrintTo(const AppendCase& c, std::ostream* os) { *os << c.label; }

class AppendReplyResultTextTest : public ::testing::TestWithParam<AppendCase> {};

TEST_P(AppendReplyResultTextTest, WritesTextAndGrowsLength) {
    const AppendCase& c = GetParam();
    FakeSystemMessages system;
    system.texts[0x80090005] = u"Bad Data.\r\n";
    system.texts[0x80090006] = std::u16string(8191, u'x');
    system.texts[0x80090007] = std::u16string(8192, u'x');
    const CMessageTexts texts(c.language, system);
    std::vector<uint8_t> reply(c.replySize, 0xEE);
    WriteU16(reply.data(), 0xB015);
    WriteU16(reply.data() + 2, c.length);
    reply[20] = 0;

    const size_t added = texts.AppendReplyResultText(reply, 20, c.code);

    EXPECT_EQ(added, c.want.size());
    EXPECT_EQ(ReadU16(reply.data() + 2), c.length + c.want.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data() + 20), c.want.size()), c.want);
    EXPECT_EQ(reply[20 + c.want.size()], 0) << "the text ends in its NUL";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppendReplyResultTextTest,
    ::testing::Values(
        AppendCase {"SuccessAppendsNothing", kEnglishUs, 0, 64, 13, ""},
        AppendCase {"ServiceCodeInChinese", kSimplified, 0x20000014, 64, 13, "指定的用户已锁定"},
        AppendCase {"UnknownServiceCodeIsEnglishEvenInChinese", kSimplified, 0x20000099, 64, 13, "Unknown Error!"},
        AppendCase {"SystemMessage", kEnglishUs, 0x80090005, 64, 13, "Bad Data.\r\n"},
        AppendCase {"NoSystemMessageAppendsNothing", kEnglishUs, 0x80090099, 64, 13, ""},
        AppendCase {"TextOf8192BytesWithNulFits", kEnglishUs, 0x80090006, 20 + 8192, 13, std::string(8191, 'x')},
        AppendCase {"LongerTextIsLeftOut", kEnglishUs, 0x80090007, 20 + 8193, 13, ""},
        AppendCase {"TextPastTheReplyIsLeftOut", kEnglishUs, 0x80090005, 30, 13, ""},
        AppendCase {"LengthBeyond65535IsLeftOut", kEnglishUs, 0x80090005, 64, 65530, ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SystemMessageTableTest, FindsTheCodesTheServiceProduces) {
    EXPECT_EQ(FindSystemMessage(0x8010000C).value_or(u""),
              u"The operation requires a Smart Card, but no Smart Card is currently in the device.\r\n");
    EXPECT_EQ(FindSystemMessage(0x80070057).value_or(u""), u"The parameter is incorrect.\r\n");
    EXPECT_EQ(FindSystemMessage(10060).value_or(u"").substr(0, 28), u"A connection attempt failed ");
    EXPECT_FALSE(FindSystemMessage(0x80070000).has_value());
    EXPECT_FALSE(FindSystemMessage(0xDEADBEEF).has_value());
}

}  // namespace
}  // namespace corvane
