#include "platform/win32/win32_service_host.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(Win32ServiceHost, TheDispatcherFailsWhenNotStartedByTheServiceManager) {
    win32::Win32ServiceHost host;
    bool ran = false;

    EXPECT_FALSE(host.StartServiceCtrlDispatcher(u"Corvane", [&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(Win32ServiceHost, NothingIsReportedWithoutAStatusHandle) {
    win32::Win32ServiceHost host;
    ServiceStatus status;
    status.dwCurrentState = Svc::Running;
    EXPECT_FALSE(host.SetServiceStatus(0, status));
    EXPECT_FALSE(host.RegisterDeviceNotification(0));
}

}  // namespace
}  // namespace corvane
