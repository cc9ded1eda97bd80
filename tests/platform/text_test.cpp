#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/text.h"

namespace corvane {
namespace {

struct Utf8Case {
    const char* label;
    std::string utf8;
    std::u16string utf16;
};

TEST(Text, Utf8AndUtf16RoundTrip) {
    const Utf8Case cases[] = {
        {"ascii", "Alice", u"Alice"},
        {"two-byte", "Jos\xC3\xA9", u"Jos\u00E9"},
        {"three-byte chinese", "\xE7\x99\xBB\xE5\xBD\x95", u"\u767B\u5F55"},
        {"four-byte surrogate pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"empty", "", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.label;
        EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.label;
    }
}

TEST(Text, MalformedUtf8BecomesReplacementWithoutReadingPastTheEnd) {
    const struct {
        const char* label;
        std::string bytes;
        std::u16string expected;
    } cases[] = {
        {"truncated three-byte at end", std::string("a\xE7\x99", 3), u"a\uFFFD\uFFFD"},
        {"lone continuation", "\x80z", u"\uFFFDz"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"invalid lead", "\xFF", u"\uFFFD"},
    };
    for (const auto& c : cases) {
        // Copy into an exactly sized heap buffer so a read past it is caught by ASan.
        std::unique_ptr<char[]> exact(new char[c.bytes.size()]);
        std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(Utf8ToUtf16(std::string_view(exact.get(), c.bytes.size())), c.expected) << c.label;
    }
}

TEST(Text, LoneSurrogatesInUtf16BecomeReplacement) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00)) + u"x"), "\xEF\xBF\xBDx");
}

TEST(Text, SlotStopsAtNulOrTakesTheFullSlot) {
    const uint8_t terminated[8] = {'p', 'h', 'o', 'n', 'e', 0, 'x', 'x'};
    const uint8_t full[5] = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(Utf8SlotToUtf16(terminated, sizeof terminated), u"phone");
    EXPECT_EQ(Utf8SlotToUtf16(full, sizeof full), u"abcde");
}

TEST(Text, NamesCompareIgnoringCase) {
    EXPECT_TRUE(EqualsNoCase(u"CORP\\Alice", u"corp\\ALICE"));
    EXPECT_TRUE(EqualsNoCase(u"J\u00F6rg", u"J\u00D6RG"));
    EXPECT_FALSE(EqualsNoCase(u"alice", u"alicia"));
    EXPECT_FALSE(EqualsNoCase(u"alice", u"alic"));
}

}  // namespace
}  // namespace corvane
