#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "config/configuration.h"
#include "platform/guid_text.h"
#include "support/test_platform.h"

namespace corvane {
namespace {

class ConfigurationTest : public ::testing::Test {
protected:
    test::TestPlatform tp;
    IRegistry& reg = tp.registry;

    // Loads a fresh configuration, as one start of the service does.
    const Configuration& Load() {
        m_loads.push_back(std::make_unique<Configuration>());
        LoadConfiguration(tp.Get(), *m_loads.back());
        return *m_loads.back();
    }

private:
    std::vector<std::unique_ptr<Configuration>> m_loads;
};

TEST_F(ConfigurationTest, FirstStartCreatesKeysAndAHostGuid) {
    const Configuration& config = Load();
    EXPECT_EQ(reg.OpenKey(u"SOFTWARE\\Tovrel"), 0u);
    EXPECT_EQ(reg.OpenKey(u"SOFTWARE\\Tovrel\\LogonOptions"), 0u);
    EXPECT_EQ(reg.OpenKey(u"SOFTWARE\\Tovrel\\Pair"), 2u);  // never created
    std::u16string stored;
    ASSERT_EQ(RegQueryString(reg, kTovrelKey, kHostGuidValue, stored, 80), 0u);
    EXPECT_EQ(stored, config.g_strHostGuid);
    ASSERT_TRUE(ParseGuid(stored));
    EXPECT_EQ(FormatGuid(*ParseGuid(stored)), stored);  // upper case, braces
    EXPECT_EQ(*ParseGuid(stored), config.g_hostGuid);
    RegValue raw;
    ASSERT_EQ(reg.QueryValue(kTovrelKey, kHostGuidValue, raw, 80), 0u);
    EXPECT_EQ(raw.data.size(), 78u);  // 38 characters and the terminating null, UTF-16
    EXPECT_EQ(config.g_wLogonPortTcp, 0);
    EXPECT_EQ(config.g_wLogonPortUdp, 0);
    EXPECT_TRUE(config.g_pairedDevices.empty());
    EXPECT_EQ(config.g_strComputerName, u"TESTPC");
    EXPECT_EQ(config.g_strDnsDomain, u"corp.example");
}

TEST_F(ConfigurationTest, SecondStartKeepsTheHostGuid) {
    const std::u16string first = Load().g_strHostGuid;
    EXPECT_EQ(Load().g_strHostGuid, first);
}

TEST_F(ConfigurationTest, UnparsableHostGuidIsReplacedAndReported) {
    ASSERT_EQ(reg.CreateKey(kTovrelKey), 0u);
    ASSERT_EQ(RegSetString(reg, kTovrelKey, kHostGuidValue, u"not-a-guid"), 0u);
    const Configuration& config = Load();
    EXPECT_TRUE(ParseGuid(config.g_strHostGuid));
    std::u16string stored;
    RegQueryString(reg, kTovrelKey, kHostGuidValue, stored, 80);
    EXPECT_EQ(stored, config.g_strHostGuid);
    ASSERT_FALSE(tp.DiagnosticLines().empty());
    EXPECT_NE(tp.DiagnosticLines()[0].find("not-a-guid"), std::string::npos);
    // The old value is kept beside the new one, and the line says where.
    std::u16string kept;
    EXPECT_EQ(RegQueryString(reg, kTovrelKey, u"HostGUID.bad", kept, 80), 0u);
    EXPECT_EQ(kept, u"not-a-guid");
    EXPECT_NE(tp.DiagnosticLines()[0].find("kept as HostGUID.bad"), std::string::npos);
}

TEST_F(ConfigurationTest, HostGuidOfWrongSizeIsReplaced) {
    ASSERT_EQ(reg.CreateKey(kTovrelKey), 0u);
    ASSERT_EQ(RegSetBinary(reg, kTovrelKey, kHostGuidValue, std::vector<uint8_t>(200, 'A')), 0u);
    EXPECT_TRUE(ParseGuid(Load().g_strHostGuid));
    RegValue kept;
    EXPECT_EQ(reg.QueryValue(kTovrelKey, u"HostGUID.bad", kept, 4096), 0u);
    EXPECT_EQ(kept.data, std::vector<uint8_t>(200, 'A'));
}

TEST_F(ConfigurationTest, GuidCreationFailureLeavesTheGuidEmptyAndTheServiceStarts) {
    tp.system.guidError = 0x80004005;
    const Configuration& config = Load();
    EXPECT_TRUE(config.g_strHostGuid.empty());
    EXPECT_EQ(config.g_strComputerName, u"TESTPC");  // later steps still run
}

TEST_F(ConfigurationTest, LogonPortsTakeTheLowSixteenBits) {
    ASSERT_EQ(reg.CreateKey(kLogonOptionsKey), 0u);
    const struct {
        const char* label;
        uint32_t tcp;
        uint32_t udp;
        uint16_t expectTcp;
        uint16_t expectUdp;
    } cases[] = {
        {"plain ports", 45460, 45461, 45460, 45461},
        {"above 65535 is cut", 65536 + 1234, 0x7FFFFFFF, 1234, 0xFFFF},
    };
    for (const auto& c : cases) {
        RegSetDword(reg, kLogonOptionsKey, kLogonPortTcpValue, c.tcp);
        RegSetDword(reg, kLogonOptionsKey, kLogonPortUdpValue, c.udp);
        const Configuration& config = Load();
        EXPECT_EQ(config.g_wLogonPortTcp, c.expectTcp) << c.label;
        EXPECT_EQ(config.g_wLogonPortUdp, c.expectUdp) << c.label;
    }
}

TEST_F(ConfigurationTest, OversizedPortValueLeavesThePortAtZero) {
    ASSERT_EQ(reg.CreateKey(kLogonOptionsKey), 0u);
    RegSetBinary(reg, kLogonOptionsKey, kLogonPortTcpValue, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(Load().g_wLogonPortTcp, 0);
}

TEST_F(ConfigurationTest, OnlyGuidNamedPairSubkeysArePaired) {
    ASSERT_EQ(reg.CreateKey(u"SOFTWARE\\Tovrel\\Pair\\{0A1B2C3D-0000-1111-2222-333344445555}"), 0u);
    ASSERT_EQ(reg.CreateKey(u"SOFTWARE\\Tovrel\\Pair\\my phone"), 0u);
    ASSERT_EQ(reg.CreateKey(u"SOFTWARE\\Tovrel\\Pair\\{0a1b2c3d-0000-1111-2222-33334444aaaa}"), 0u);
    const Configuration& config = Load();
    // The names are kept as enumerated, not reformatted.
    EXPECT_EQ(config.g_pairedDevices, (std::vector<std::u16string> {u"{0A1B2C3D-0000-1111-2222-333344445555}",
                                                                    u"{0a1b2c3d-0000-1111-2222-33334444aaaa}"}));
}

TEST_F(ConfigurationTest, FailedComputerNameLeavesNamesEmpty) {
    tp.system.computerNameError = 1;
    const Configuration& config = Load();
    EXPECT_TRUE(config.g_strComputerName.empty());
    EXPECT_TRUE(config.g_strDnsDomain.empty());
}

TEST_F(ConfigurationTest, HostKeyStepRunsRightAfterTheHostGuid) {
    Configuration config;
    bool guidWasThere = false;
    LoadConfiguration(tp.Get(), config, [&] {
        guidWasThere = !config.g_strHostGuid.empty() && config.g_strComputerName.empty();
        return 0u;
    });
    EXPECT_TRUE(guidWasThere);
}

TEST_F(ConfigurationTest, ServiceMutexesAndTheReleaseMutexOpenOnce) {
    Configuration config;
    OpenServiceMutexes(tp.Get(), config);
    EXPECT_TRUE(config.m_hPairedMutex && config.m_hDevNetMutex && config.m_hDevTovrelMutex && config.m_hUserLogMutex);
    EXPECT_EQ(OpenOrCreateMutex(tp.Get(), kMutexUserLog).get(), config.m_hUserLogMutex.get());
    EXPECT_EQ(OpenSvrMutex(tp.Get(), config), 0u);
    auto first = config.m_hSvrMutex;
    EXPECT_EQ(OpenSvrMutex(tp.Get(), config), 0u);
    EXPECT_EQ(config.m_hSvrMutex.get(), first.get());
}

// Mutexes the system refuses with an error of its own.
class RefusingMutexes final : public IMutexes {
public:
    using IMutexes::OpenOrCreate;
    MutexHandle OpenOrCreate(std::u16string_view, bool, uint32_t& error) override {
        error = 1450;  // ERROR_NO_SYSTEM_RESOURCES
        return nullptr;
    }
};

TEST_F(ConfigurationTest, TheReleaseMutexReportsTheSystemsErrorWhenItCannotBeOpened) {
    RefusingMutexes refusing;
    Platform platform = tp.Get();
    platform.mutexes = &refusing;
    Configuration config;
    EXPECT_EQ(OpenSvrMutex(platform, config), 1450u);
    EXPECT_EQ(config.m_hSvrMutex, nullptr);
}

}  // namespace
}  // namespace corvane
