#include "service/service_install.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/test_platform.h"

namespace corvane {
namespace {

constexpr std::u16string_view kDescription = u"This service is used for the tests.";

class ServiceInstallTest : public ::testing::Test {
protected:
    Platform& P() { return m_tp.Get(); }
    test::FakeServiceManager& Scm() { return m_tp.serviceManager; }
    std::vector<std::u16string> Messages() const { return m_tp.system.Messages(); }

    static ServiceConfig Installed(std::u16string path) {
        ServiceConfig config;
        config.serviceName = u"Corvane";
        config.displayName = u"Old Name";
        config.serviceType = 0x10;
        config.startType = ScStart::DemandStart;
        config.errorControl = 0;
        config.binaryPath = std::move(path);
        return config;
    }

    test::TestPlatform m_tp;
};

TEST_F(ServiceInstallTest, FreshInstallRegistersTheServiceAsConfigured) {
    m_tp.system.modulePath = u"C:\\Program Files\\Corvane\\corvane.exe";

    EXPECT_EQ(InstallService(P(), kDescription), 1);

    const auto service = Scm().Find(u"Corvane");
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->config.displayName, u"Corvane Service");
    EXPECT_EQ(service->config.serviceType, 0x110u);
    EXPECT_EQ(service->config.startType, ScStart::AutoStart);
    EXPECT_EQ(service->config.errorControl, ScErrorControl::Normal);
    EXPECT_EQ(service->config.binaryPath, u"C:\\Program Files\\Corvane\\corvane.exe");  // no quotes
    EXPECT_EQ(service->description, kDescription);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Scm().OpenHandles(), 0u);
}

TEST_F(ServiceInstallTest, InstallOverAnInstalledServiceRepairsItsConfiguration) {
    Scm().Add(Installed(u"D:\\old\\corvane.exe"), u"old text");
    m_tp.system.modulePath = u"C:\\new\\corvane.exe";

    EXPECT_EQ(InstallService(P(), kDescription), 1);

    const auto service = Scm().Find(u"Corvane");
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->config.binaryPath, u"C:\\new\\corvane.exe");
    EXPECT_EQ(service->config.displayName, u"Corvane Service");
    EXPECT_EQ(service->config.startType, ScStart::AutoStart);
    EXPECT_EQ(service->config.serviceType, 0x110u);
    EXPECT_EQ(service->description, kDescription);
    ASSERT_EQ(Scm().OpenServiceAccess().size(), 1u);
    EXPECT_EQ(Scm().OpenServiceAccess()[0], 0xF003Fu);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Scm().OpenHandles(), 0u);
}

TEST_F(ServiceInstallTest, AFailedDescriptionDoesNotFailTheInstall) {
    Scm().describeError = WinError::AccessDenied;

    EXPECT_EQ(InstallService(P(), kDescription), 1);

    EXPECT_TRUE(Scm().Find(u"Corvane").has_value());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(ServiceInstallTest, UninstallRequestsAStopAndDeletesTheService) {
    Scm().Add(Installed(u"C:\\corvane.exe"));

    EXPECT_NE(UninstallService(P()), 0);

    EXPECT_FALSE(Scm().Find(u"Corvane").has_value());
    ASSERT_EQ(Scm().OpenServiceAccess().size(), 1u);
    EXPECT_EQ(Scm().OpenServiceAccess()[0], ScAccess::ServiceStop | ScAccess::Delete);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Scm().OpenHandles(), 0u);
}

TEST_F(ServiceInstallTest, UninstallSendsTheStopControlBeforeDeleting) {
    Scm().Add(Installed(u"C:\\corvane.exe"));
    Scm().deleteError = 1072;  // already marked for deletion: the service stays in the fake

    UninstallService(P());

    const auto service = Scm().Find(u"Corvane");
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->controls, std::vector<uint32_t> {Svc::ControlStop});
}

// Every failure shows exactly one message (or none where the verb stays silent) and returns 0,
// with every handle closed.
struct VerbFailureCase {
    const char* label;
    bool serviceInstalled;
    std::function<void(test::TestPlatform&)> arrange;
    bool install;  // else uninstall
    std::u16string_view message;  // empty: no message box
};

void PrintTo(const VerbFailureCase& c, std::ostream* os) { *os << c.label; }

class ServiceVerbFailureTest : public ServiceInstallTest, public ::testing::WithParamInterface<VerbFailureCase> {};

TEST_P(ServiceVerbFailureTest, FailsWithItsMessage) {
    const VerbFailureCase& c = GetParam();
    if (c.serviceInstalled) Scm().Add(Installed(u"C:\\corvane.exe"), u"kept");
    c.arrange(m_tp);

    const int result = c.install ? InstallService(P(), kDescription) : UninstallService(P());

    EXPECT_EQ(result, 0);
    if (c.message.empty()) {
        EXPECT_TRUE(Messages().empty());
    } else {
        EXPECT_EQ(Messages(), std::vector<std::u16string> {std::u16string(c.message)});
    }
    EXPECT_EQ(m_tp.DiagnosticLines().size(), 1u) << "the reason, with its error code, for whoever runs the verb";
    EXPECT_EQ(Scm().OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceVerbFailureTest,
    ::testing::Values(
        VerbFailureCase {"InstallWithoutAdministratorRights", false,
                         [](test::TestPlatform& tp) { tp.serviceManager.openManagerError = WinError::AccessDenied; },
                         true, u"Couldn't open service manager"},
        VerbFailureCase {"InstallWhenCreationFails", false,
                         [](test::TestPlatform& tp) { tp.serviceManager.createError = 1078; }, true,
                         u"Couldn't open/create service"},
        VerbFailureCase {"InstallWhenTheServiceCannotBeOpenedNorCreated", true,
                         [](test::TestPlatform& tp) { tp.serviceManager.openServiceError = WinError::AccessDenied; },
                         true, u"Couldn't open/create service"},
        VerbFailureCase {"InstallWhenTheUpdateFails", true,
                         [](test::TestPlatform& tp) { tp.serviceManager.changeConfigError = 1072; }, true,
                         u"Couldn't update the service "},
        VerbFailureCase {"InstallWithoutAProgramPath", false,
                         [](test::TestPlatform& tp) { tp.system.moduleError = WinError::InsufficientBuffer; }, true,
                         u"Couldn't open/create service"},
        VerbFailureCase {"UninstallWithoutAdministratorRights", true,
                         [](test::TestPlatform& tp) { tp.serviceManager.openManagerError = WinError::AccessDenied; },
                         false, u"Couldn't open service manager"},
        VerbFailureCase {"UninstallOfAMissingService", false, [](test::TestPlatform&) {}, false,
                         u"Couldn't open service"},
        VerbFailureCase {"UninstallWhenDeleteFailsIsSilent", true,
                         [](test::TestPlatform& tp) { tp.serviceManager.deleteError = 1072; }, false, u""}),
    [](const ::testing::TestParamInfo<VerbFailureCase>& info) { return std::string(info.param.label); });

TEST_F(ServiceInstallTest, AFailedUpdateLeavesTheInstalledConfiguration) {
    Scm().Add(Installed(u"D:\\old\\corvane.exe"), u"old text");
    Scm().changeConfigError = WinError::AccessDenied;

    InstallService(P(), kDescription);

    const auto service = Scm().Find(u"Corvane");
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->config.binaryPath, u"D:\\old\\corvane.exe");
    EXPECT_EQ(service->description, u"old text");
}

}  // namespace
}  // namespace corvane
