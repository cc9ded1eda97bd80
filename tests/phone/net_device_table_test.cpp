#include "phone/net_device_table.h"

#include <gtest/gtest.h>

#include "config/configuration.h"
#include "support/test_platform.h"

namespace corvane {
namespace {

class NetDeviceTableTest : public ::testing::Test {
protected:
    NetDeviceTableTest() = default;

    void Announce(const char16_t* id, const char16_t* name = u"Phone", const char16_t* address = u"10.0.0.5") {
        table.AnnounceNetDevice(id, name, 45452, 1, address);
    }
    bool Listed(const char16_t* id) { return table.WithNetDevice(id, [](const CDevNet&) {}); }
    CDevNet Copy(const char16_t* id) {
        CDevNet copy;
        table.WithNetDevice(id, [&](const CDevNet& dev) {
            copy.m_strName = dev.m_strName;
            copy.m_strAddress = dev.m_strAddress;
            copy.m_wPort = dev.m_wPort;
            copy.m_tLastSeen = dev.m_tLastSeen;
            for (const auto& opt : dev.m_arrLogonOpt) copy.m_arrLogonOpt.push_back(std::make_unique<CLogonOpt>(*opt));
        });
        return copy;
    }
    // Advances the clock one second at a time, ageing after each, until the entry is gone.
    int SecondsUntilGone(const char16_t* id, int ageEvery) {
        for (int s = 1; s <= 60; ++s) {
            platform.clock.Advance(1000);
            if (s % ageEvery == 0) table.AgeNetDevices();
            if (!Listed(id)) return s;
        }
        return -1;
    }

    test::TestPlatform platform;
    MutexHandle devNetMutex = OpenOrCreateMutex(platform.Get(), kMutexDevNet);
    CNetDeviceTable table {platform.clock, devNetMutex};
};

TEST_F(NetDeviceTableTest, AnnouncingEveryFiveSecondsKeepsTheEntry) {
    for (int i = 0; i < 10; ++i) {
        Announce(u"phone-1");
        for (int s = 0; s < 5; ++s) {
            platform.clock.Advance(1000);
            table.AgeNetDevices();
        }
        ASSERT_TRUE(Listed(u"phone-1")) << "after announcement " << i;
    }
}

TEST_F(NetDeviceTableTest, TheEntryGoesBetweenFourteenAndEighteenSecondsAfterTheLastAnnouncement) {
    // Ageing once a second (no traffic) and at least every four seconds (traffic).
    for (int every : {1, 4}) {
        Announce(u"phone-1");
        const int gone = SecondsUntilGone(u"phone-1", every);
        EXPECT_GE(gone, 14) << "ageing every " << every << " s";
        EXPECT_LE(gone, 18) << "ageing every " << every << " s";
    }
}

TEST_F(NetDeviceTableTest, AClockSetBackPullsLastSeenDown) {
    Announce(u"phone-1");
    platform.clock.SetSystemTime(platform.clock.GetSystemTimeAsFileTime() - 3600LL * kFileTimePerSecond);
    table.AgeNetDevices();
    ASSERT_TRUE(Listed(u"phone-1"));
    EXPECT_EQ(SecondsUntilGone(u"phone-1", 1), 14) << "ages from the new time, not an hour later";
}

TEST_F(NetDeviceTableTest, WithdrawalRemovesAndAnUnknownIdChangesNothing) {
    Announce(u"phone-1");
    Announce(u"phone-2");
    table.WithdrawNetDevice(u"phone-3");
    table.WithdrawNetDevice(u"PHONE-1");  // IDs compare exactly
    EXPECT_EQ(table.Count(), 2u);
    table.WithdrawNetDevice(u"phone-1");
    EXPECT_EQ(table.Count(), 1u);
    EXPECT_FALSE(Listed(u"phone-1"));
}

TEST_F(NetDeviceTableTest, NameAndAddressChangeOnlyWhenTheyDifferBeyondCase) {
    Announce(u"phone-1", u"Anna's Phone", u"10.0.0.5");
    Announce(u"phone-1", u"ANNA'S PHONE", u"10.0.0.5");
    EXPECT_EQ(Copy(u"phone-1").m_strName, u"Anna's Phone");
    Announce(u"phone-1", u"Work phone", u"10.0.0.9");
    EXPECT_EQ(Copy(u"phone-1").m_strName, u"Work phone");
    EXPECT_EQ(Copy(u"phone-1").m_strAddress, u"10.0.0.9");
}

TEST_F(NetDeviceTableTest, TwoLogonsOfOneUserLeaveOneOptionWithTheSecondValues) {
    Announce(u"phone-1");
    ASSERT_TRUE(table.AddNetLogonOption(u"phone-1", u"anna", u"CORP", 1, 10));
    platform.clock.Advance(5000);
    ASSERT_TRUE(table.AddNetLogonOption(u"phone-1", u"ANNA", u"corp", 2, 30));
    ASSERT_TRUE(table.AddNetLogonOption(u"phone-1", u"bob", u"CORP", 1, 0));
    const CDevNet dev = Copy(u"phone-1");
    ASSERT_EQ(dev.m_arrLogonOpt.size(), 2u);
    EXPECT_EQ(dev.m_arrLogonOpt[0]->m_strUser, u"anna");
    EXPECT_EQ(dev.m_arrLogonOpt[0]->m_nOption, 2);
    EXPECT_EQ(dev.m_arrLogonOpt[0]->m_nDelay, 30);
    EXPECT_EQ(dev.m_arrLogonOpt[0]->m_ftTime, platform.clock.GetSystemTimeAsFileTime());
    EXPECT_EQ(dev.m_arrLogonOpt[1]->m_strUser, u"bob");
}

TEST_F(NetDeviceTableTest, AnOptionForAnAbsentDeviceCreatesNothing) {
    EXPECT_FALSE(table.AddNetLogonOption(u"phone-1", u"anna", u"CORP", 1, 10));
    EXPECT_EQ(table.Count(), 0u);
}

TEST_F(NetDeviceTableTest, AUserLeavingTheConsoleLosesTheOptionOnEveryDevice) {
    for (const char16_t* id : {u"phone-1", u"phone-2"}) {
        Announce(id);
        table.AddNetLogonOption(id, u"anna", u"CORP", 1, 10);
        table.AddNetLogonOption(id, u"bob", u"CORP", 1, 10);
    }
    table.RemoveNetLogonOption(u"Anna", u"corp");
    for (const char16_t* id : {u"phone-1", u"phone-2"}) {
        const CDevNet dev = Copy(id);
        ASSERT_EQ(dev.m_arrLogonOpt.size(), 1u);
        EXPECT_EQ(dev.m_arrLogonOpt[0]->m_strUser, u"bob");
    }
}

TEST_F(NetDeviceTableTest, ClearEmptiesTheTable) {
    Announce(u"phone-1");
    table.AddNetLogonOption(u"phone-1", u"anna", u"CORP", 1, 10);
    Announce(u"phone-2");
    table.ClearNetDevices();
    EXPECT_EQ(table.Count(), 0u);
}

}  // namespace
}  // namespace corvane
