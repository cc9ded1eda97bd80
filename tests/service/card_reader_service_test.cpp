// Card logons through the service's own objects on the test platform: a logon result report with
// device kind 3 brings one reader device to life (a second identical report only adds its
// option), and pulling the card locks the user's session through the offline test and the
// session actions; a reader name that does not fit is refused and no device is made.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "device/device_map.h"
#include "lan_messages.h"
#include "platform/text.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "session/session_codes.h"
#include "session/session_monitor.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

const std::u16string kReader = u"Virtual PCD 00 00";
const std::string kCardId = "{31313030-3232-3333-3434-353536363737}";

bool WaitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class CardReaderServiceTest : public ::testing::Test {
protected:
    CardReaderServiceTest() {
        objects.Wire(app);
        OpenServiceMutexes(tp.Get(), app.Config());
        tp.sessions.now = tp.clock.GetSystemTimeAsFileTime();
        tp.sessions.Set(FakeSessions::UserSession(1, u"anna", u"CONTOSO"));
        WtsSessionNotification logon;
        logon.dwSessionId = 1;
        objects.SessionMonitor().OnSessionChange(WTS_SESSION_LOGON, &logon);
        tp.smartCards.AddReader(kReader);
        tp.smartCards.Insert(kReader);
    }
    ~CardReaderServiceTest() override {
        objects.Devices().ForEach([](CDevTovrel& device) { device.RequestStop(); });
        WaitUntil([&] { return app.ActiveWorkerCount.load() == 0; });
        tp.threads.JoinAll();
    }
    int32_t Report(const std::string& reader, int32_t option, int32_t delay) {
        lan::LogonReportFields f;
        f.devType = DeviceKind::CardReader;
        f.devGuid = kCardId;
        f.computerName = "TESTPC";
        f.logonServer = "CONTOSO";
        f.userName = "anna";
        f.devName = reader;
        f.logonOption = option;
        f.logonParam = delay;
        const std::vector<uint8_t> message = lan::BuildLogonReport(f);
        return objects.LogonReports().HandleLogonResultReport(message.data(), message.size());
    }

    TestPlatform tp;
    // The application (with the configuration and its mutexes) outlives the service objects.
    CCorvaneApp app {tp.Get(), ServiceHooks {}};
    CServiceObjects objects {tp.Get()};
};

TEST_F(CardReaderServiceTest, ACardLogonWatchesTheCardAndItsRemovalLocksTheSession) {
    ASSERT_EQ(Report(Utf16ToUtf8(kReader), LogonOption::LockWhenOffline, 0), 0);
    ASSERT_EQ(Report(Utf16ToUtf8(kReader), LogonOption::LockWhenOffline, 0), 0);
    ASSERT_EQ(objects.Devices().Count(), 1u);
    CDevTovrel* device = objects.Devices().Find(Utf8ToUtf16(kCardId));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetKind(), DeviceKind::CardReader);
    EXPECT_EQ(device->GetName(), kReader);
    EXPECT_EQ(device->CopyLogonOptions().size(), 1u);
    DeviceMap::Release(device);
    ASSERT_TRUE(tp.smartCards.WaitForWaiters(1));
    EXPECT_EQ(app.ActiveWorkerCount.load(), 1);

    tp.smartCards.Pull(kReader);
    ASSERT_TRUE(WaitUntil([&] { return !tp.sessions.Disconnected().empty(); }));
    EXPECT_EQ(tp.sessions.Disconnected(), std::vector<uint32_t> {1});
    // The option is used up: the device ends and leaves the map.
    ASSERT_TRUE(WaitUntil([&] { return app.ActiveWorkerCount.load() == 0; }));
    EXPECT_EQ(objects.Devices().Count(), 0u);
    EXPECT_EQ(tp.smartCards.LiveContexts(), 0);
}

TEST_F(CardReaderServiceTest, AReaderNameLongerThanItsFieldIsRefused) {
    ASSERT_EQ(Report(std::string(Scard::kMaxReaderNameChars + 1, 'R'), LogonOption::LockWhenOffline, 0), 0);
    EXPECT_EQ(objects.Devices().Count(), 0u);
    EXPECT_EQ(app.ActiveWorkerCount.load(), 0);
}

TEST_F(CardReaderServiceTest, AReportNamingAReaderThatDoesNotExistCountsAsRemoval) {
    ASSERT_EQ(Report("No Such Reader 00 00", LogonOption::LockWhenOffline, 0), 0);
    ASSERT_TRUE(WaitUntil([&] { return !tp.sessions.Disconnected().empty(); }));
    ASSERT_TRUE(WaitUntil([&] { return app.ActiveWorkerCount.load() == 0; }));
    EXPECT_EQ(objects.Devices().Count(), 0u);
}

}  // namespace
}  // namespace corvane::test
