#include <gtest/gtest.h>

#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"
#include "config/configuration.h"
#include "phone/net_device_table.h"
#include "platform/text.h"
#include "support/test_platform.h"

namespace corvane {
namespace {

class NetDeviceListTest : public ::testing::Test {
protected:
    NetDeviceListTest() = default;

    int32_t List() { return table.ListNetDevices(reply, size, arena); }
    std::string StringAt(size_t stringArea, uint16_t offset) {
        return std::string(reinterpret_cast<const char*>(reply + stringArea + offset));
    }

    test::TestPlatform platform;
    MutexHandle devNetMutex = OpenOrCreateMutex(platform.Get(), kMutexDevNet);
    CNetDeviceTable table {platform.clock, devNetMutex};
    ReplyArena arena;
    uint8_t* reply = nullptr;
    size_t size = 0;
};

TEST_F(NetDeviceListTest, AnEmptyTableGivesTenBytes) {
    ASSERT_EQ(List(), 0);
    ASSERT_EQ(size, 10u);
    const auto header = MsgHeader::Decode(reply, size);
    EXPECT_EQ(header->code, 0xC001);
    EXPECT_EQ(header->length, 2);
    EXPECT_EQ(header->status, 0u);
    EXPECT_EQ(ReadU16(reply + 8), 0);
}

TEST_F(NetDeviceListTest, RecordsPointIntoTheStringAreaNameBeforeAddress) {
    const std::u16string fullId(40, u'f');
    table.AnnounceNetDevice(fullId, u"Büro", 45452, 0xCAFEBABE, u"192.168.1.20");
    ASSERT_EQ(List(), 0);
    const size_t stringArea = 8 + 2 + 50;
    ASSERT_EQ(size, stringArea + 6 + 13);  // "Büro" is 5 UTF-8 bytes
    EXPECT_EQ(ReadU16(reply + 2), size - 8);
    EXPECT_EQ(ReadU16(reply + 8), 1);
    const uint8_t* rec = reply + 10;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec), 40), std::string(40, 'f')) << "a full slot is unterminated";
    EXPECT_EQ(StringAt(stringArea, ReadU16(rec + 40)), "B\xC3\xBCro");
    EXPECT_EQ(StringAt(stringArea, ReadU16(rec + 42)), "192.168.1.20");
    EXPECT_EQ(ReadU16(rec + 44), 45452);
    EXPECT_EQ(ReadU32(rec + 46), 0xCAFEBABEu);
}

TEST_F(NetDeviceListTest, AnIdThatCannotBeListedFailsTheWholeRequest) {
    const std::u16string tooLong(21, u'\u00e9');  // 21 characters, 42 UTF-8 bytes
    for (const std::u16string& bad : {tooLong, std::u16string()}) {
        table.AnnounceNetDevice(u"phone-1", u"Phone", 1, 2, u"10.0.0.1");
        table.AnnounceNetDevice(bad, u"Phone", 1, 2, u"10.0.0.2");
        EXPECT_EQ(List(), static_cast<int32_t>(Result::NteFail)) << bad.size() << " characters";
        EXPECT_EQ(reply, nullptr);
        table.WithdrawNetDevice(bad);
    }
}

TEST_F(NetDeviceListTest, EntriesBeyondTheSixteenBitLengthAreLeftOut) {
    // 2000 phones with 30-byte names need more than 65535 payload bytes.
    for (int i = 0; i < 2000; ++i) {
        table.AnnounceNetDevice(AsciiToUtf16("phone-" + std::to_string(i)), std::u16string(30, u'n'), 1, 2, u"10.0.0.1");
    }
    ASSERT_EQ(List(), 0);
    const uint16_t n = ReadU16(reply + 8);
    EXPECT_LT(n, 2000);
    EXPECT_GT(n, 600);
    EXPECT_EQ(size, 8u + ReadU16(reply + 2));
    const size_t stringArea = 10 + 50 * size_t(n);
    const uint8_t* last = reply + 10 + 50 * size_t(n - 1);
    EXPECT_EQ(StringAt(stringArea, ReadU16(last + 42)), "10.0.0.1");
    EXPECT_EQ(stringArea + ReadU16(last + 42) + 9, size) << "the last string ends the reply";
}

}  // namespace
}  // namespace corvane
