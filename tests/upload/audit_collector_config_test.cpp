#include "upload/audit_collector_config.h"

#include <gtest/gtest.h>

#include "support/test_platform.h"

namespace corvane::test {
namespace {

class AuditCollectorConfigTest : public ::testing::Test {
protected:
    AuditCollectorConfigTest() { platform.registry.CreateKey(kAuditCollectorKey); }
    TestPlatform platform;
};

TEST_F(AuditCollectorConfigTest, ReadsEveryValueOfTheKey) {
    IRegistry& reg = platform.registry;
    RegSetDword(reg, kAuditCollectorKey, u"Enabled", 1);
    RegSetString(reg, kAuditCollectorKey, u"Host", u"logs.example");
    RegSetDword(reg, kAuditCollectorKey, u"Port", 6514);
    RegSetString(reg, kAuditCollectorKey, u"CaFile", u"/etc/ca.pem");
    RegSetString(reg, kAuditCollectorKey, u"ClientCert", u"/etc/c.pem");
    RegSetString(reg, kAuditCollectorKey, u"ClientKey", u"/etc/k.pem");
    RegSetString(reg, kAuditCollectorKey, u"ClientThumbprint", u"ab12");
    const AuditCollectorConfig config = LoadAuditCollectorConfig(reg);
    EXPECT_TRUE(config.Ships());
    EXPECT_EQ(config.tls.strHost, "logs.example");
    EXPECT_EQ(config.tls.wPort, 6514);
    EXPECT_EQ(config.tls.strCaFile, "/etc/ca.pem");
    EXPECT_EQ(config.tls.strClientCert, "/etc/c.pem");
    EXPECT_EQ(config.tls.strClientKey, "/etc/k.pem");
    EXPECT_EQ(config.tls.strClientThumbprint, "ab12");
}

TEST_F(AuditCollectorConfigTest, ShipsOnlyWhenEnabledWithAHost) {
    struct Case {
        const char* label;
        bool setEnabled;
        uint32_t enabled;
        const char16_t* host;
        bool ships;
    };
    const Case cases[] = {
        {"nothing set", false, 0, nullptr, false},
        {"host alone", false, 0, u"logs.example", false},
        {"enabled 0", true, 0, u"logs.example", false},
        {"enabled 2", true, 2, u"logs.example", false},
        {"enabled without host", true, 1, nullptr, false},
        {"enabled with host", true, 1, u"logs.example", true},
    };
    for (const Case& c : cases) {
        IRegistry& reg = platform.registry;
        reg.DeleteValue(kAuditCollectorKey, u"Enabled");
        reg.DeleteValue(kAuditCollectorKey, u"Host");
        if (c.setEnabled) RegSetDword(reg, kAuditCollectorKey, u"Enabled", c.enabled);
        if (c.host) RegSetString(reg, kAuditCollectorKey, u"Host", c.host);
        const AuditCollectorConfig config = LoadAuditCollectorConfig(reg);
        EXPECT_EQ(config.Ships(), c.ships) << c.label;
        EXPECT_EQ(config.tls.wPort, kAuditCollectorDefaultPort) << c.label;
    }
}

}  // namespace
}  // namespace corvane::test
