#include "platform/socket_address.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace corvane {
namespace {

TEST(SocketAddress, EncodesTheWindowsSockaddrIn) {
    uint8_t bytes[SockAddrIn::kSize];
    std::fill(std::begin(bytes), std::end(bytes), 0xEE);
    SockAddrIn::Inet(0xC0A80114, 45452).Encode(bytes);
    const uint8_t expected[SockAddrIn::kSize] = {2, 0, 0xB1, 0x8C, 192, 168, 1, 20, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(bytes), std::end(bytes), std::begin(expected)));
    EXPECT_EQ(SockAddrIn::Decode(bytes), SockAddrIn::Inet(0xC0A80114, 45452));
}

TEST(SocketAddress, DottedTextParsesStrictlyAndFormatsBack) {
    const struct {
        const char16_t* text;
        bool ok;
        uint32_t address;
    } cases[] = {
        {u"127.0.0.1", true, 0x7F000001}, {u"255.255.255.255", true, 0xFFFFFFFF}, {u"0.0.0.0", true, 0},
        {u"256.0.0.1", false, 0},         {u"1.2.3", false, 0},                     {u"1.2.3.4.", false, 0},
        {u"1.2.3.4 ", false, 0},          {u"a.b.c.d", false, 0},                   {u"", false, 0},
        {u"1..2.3", false, 0},            {u"1234.1.1.1", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t address = 0;
        EXPECT_EQ(ParseIPv4(c.text, address), c.ok) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
        if (c.ok) {
            EXPECT_EQ(address, c.address);
            EXPECT_EQ(FormatIPv4(address), std::u16string(c.text));
        }
    }
}

}  // namespace
}  // namespace corvane
