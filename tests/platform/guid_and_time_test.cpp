#include <gtest/gtest.h>

#include "platform/file_time.h"
#include "platform/guid_text.h"
#include "platform/text.h"

namespace corvane {
namespace {

TEST(GuidText, FormatsUpperCaseWithBracesAndParsesBack) {
    Guid g;
    g.data1 = 0x53F5630D;
    g.data2 = 0xB6BF;
    g.data3 = 0x11D0;
    const uint8_t tail[8] = {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B};
    std::copy(tail, tail + 8, g.data4);
    EXPECT_EQ(FormatGuid(g), u"{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}");
    auto parsed = ParseGuid(u"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, g);
}

TEST(GuidText, RejectsTextThatIsNotAGuid) {
    const char16_t* bad[] = {
        u"",
        u"53F5630D-B6BF-11D0-94F2-00A0C91EFB8B",     // no braces
        u"{53F5630D-B6BF-11D0-94F2-00A0C91EFB8}",    // one digit short
        u"{53F5630D-B6BF-11D0-94F2-00A0C91EFB8BA}",  // one digit long
        u"{53F5630D_B6BF-11D0-94F2-00A0C91EFB8B}",   // wrong separator
        u"{53F5630G-B6BF-11D0-94F2-00A0C91EFB8B}",   // not hex
        u"phone-1",
    };
    for (const char16_t* text : bad) EXPECT_FALSE(ParseGuid(text).has_value()) << Utf16ToUtf8(text);
}

TEST(FileTimeConversion, KnownInstants) {
    EXPECT_EQ(UnixSecondsToFileTime(0), 116444736000000000LL);
    const CalendarTime leap {2024, 2, 4, 29, 23, 59, 58, 0};
    const FileTime ft = CalendarToFileTime(leap);
    const CalendarTime back = FileTimeToCalendar(ft);
    EXPECT_EQ(back.year, 2024);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 29);
    EXPECT_EQ(back.hour, 23);
    EXPECT_EQ(back.minute, 59);
    EXPECT_EQ(back.second, 58);
    EXPECT_EQ(back.dayOfWeek, 4);  // a Thursday
    EXPECT_EQ(FileTimeToUnixSeconds(ft), 1709251198);
    EXPECT_EQ(FileTimeToCalendar(0).year, 1601);
}

}  // namespace
}  // namespace corvane
