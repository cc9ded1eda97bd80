// The install verbs on POSIX: the service is a systemd unit under the state root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/posix/posix_service_host.h"
#include "platform/posix/posix_service_manager.h"
#include "service/service_install.h"
#include "support/test_platform.h"

namespace corvane {
namespace {

constexpr std::u16string_view kDescription = u"Used by the logon component; 100% automatic.";

class PosixServiceManagerTest : public ::testing::Test {
protected:
    PosixServiceManagerTest() : m_scm(posix::StateRoot::At(m_tp.Root())) {
        m_tp.Get().serviceManager = &m_scm;
        m_tp.system.modulePath = u"/opt/corvane/bin/corvane";
    }

    std::string UnitPath() const { return m_tp.Root() + "/etc/systemd/system/corvane.service"; }
    std::string WantsPath() const {
        return m_tp.Root() + "/etc/systemd/system/multi-user.target.wants/corvane.service";
    }
    std::string Unit() const {
        std::ifstream in(UnitPath());
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> LinesStartingWith(const std::string& prefix) const {
        std::vector<std::string> lines;
        std::istringstream in(Unit());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(prefix, 0) == 0) lines.push_back(line);
        }
        return lines;
    }

    test::TestPlatform m_tp;
    posix::PosixServiceManager m_scm;
};

TEST_F(PosixServiceManagerTest, InstallWritesAnEnabledUnit) {
    ASSERT_EQ(InstallService(m_tp.Get(), kDescription), 1);

    EXPECT_EQ(LinesStartingWith("Description="),
              std::vector<std::string> {"Description=Used by the logon component; 100%% automatic."});
    EXPECT_EQ(LinesStartingWith("ExecStart="), std::vector<std::string> {"ExecStart=\"/opt/corvane/bin/corvane\""});
    EXPECT_EQ(LinesStartingWith("Environment="),
              std::vector<std::string> {"Environment=\"CORVANE_ROOT=" + m_tp.Root() + "\""});
    EXPECT_EQ(LinesStartingWith("WantedBy="), std::vector<std::string> {"WantedBy=multi-user.target"});
    EXPECT_EQ(LinesStartingWith("X-DisplayName="), std::vector<std::string> {"X-DisplayName=Corvane Service"});
    char target[256] = {};
    ASSERT_GT(::readlink(WantsPath().c_str(), target, sizeof target - 1), 0) << "automatic start: enabled";
    EXPECT_STREQ(target, "../corvane.service");
    EXPECT_TRUE(m_tp.system.Messages().empty());
}

TEST_F(PosixServiceManagerTest, SecondInstallRepairsPathAndDescription) {
    ASSERT_EQ(InstallService(m_tp.Get(), u"first text"), 1);
    ::unlink(WantsPath().c_str());
    m_tp.system.modulePath = u"/usr/local/bin/corvane";

    ASSERT_EQ(InstallService(m_tp.Get(), u"second text"), 1);

    EXPECT_EQ(LinesStartingWith("ExecStart="), std::vector<std::string> {"ExecStart=\"/usr/local/bin/corvane\""});
    EXPECT_EQ(LinesStartingWith("Description="), std::vector<std::string> {"Description=second text"});
    struct stat st {};
    EXPECT_EQ(::lstat(WantsPath().c_str(), &st), 0) << "automatic start restored";
}

TEST_F(PosixServiceManagerTest, UninstallRemovesUnitAndLink) {
    ASSERT_EQ(InstallService(m_tp.Get(), kDescription), 1);

    EXPECT_NE(UninstallService(m_tp.Get()), 0);

    struct stat st {};
    EXPECT_NE(::lstat(UnitPath().c_str(), &st), 0);
    EXPECT_NE(::lstat(WantsPath().c_str(), &st), 0);
    EXPECT_TRUE(m_tp.system.Messages().empty());
}

TEST_F(PosixServiceManagerTest, UninstallOfAMissingServiceSaysSo) {
    EXPECT_EQ(UninstallService(m_tp.Get()), 0);

    EXPECT_EQ(m_tp.system.Messages(), std::vector<std::u16string> {u"Couldn't open service"});
}

TEST_F(PosixServiceManagerTest, AnUnwritableUnitFolderMeansNoServiceManager) {
    // A file where the folder should be: the units cannot be written, even by root.
    std::ofstream(m_tp.Root() + "/etc") << "not a folder";

    EXPECT_EQ(InstallService(m_tp.Get(), kDescription), 0);
    EXPECT_EQ(UninstallService(m_tp.Get()), 0);

    EXPECT_EQ(m_tp.system.Messages(),
              (std::vector<std::u16string> {u"Couldn't open service manager", u"Couldn't open service manager"}));
}

TEST_F(PosixServiceManagerTest, UninstallStopsTheRunningService) {
    ASSERT_EQ(InstallService(m_tp.Get(), kDescription), 1);
    const auto root = posix::StateRoot::At(m_tp.Root());
    posix::PosixServiceHost host(root.ControlSocketPath(), root.InstanceLockPath());
    std::promise<void> registered;
    std::promise<uint32_t> control;
    std::thread dispatcher([&] {
        host.StartServiceCtrlDispatcher(u"Corvane", [&] {
            std::promise<void> stopped;
            host.RegisterServiceCtrlHandlerEx(u"Corvane", [&](uint32_t code, uint32_t, void*) -> uint32_t {
                control.set_value(code);
                stopped.set_value();
                return 0;
            });
            registered.set_value();
            stopped.get_future().wait();
        });
    });
    registered.get_future().wait();

    EXPECT_NE(UninstallService(m_tp.Get()), 0);

    auto received = control.get_future();
    ASSERT_EQ(received.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(received.get(), Svc::ControlStop);
    dispatcher.join();
}

// The state root is served by one service at a time: a second start is refused with 1056 while
// the first holds its claim, whatever ports or network namespace it uses; once the first has
// gone, a new start may claim it again.
TEST_F(PosixServiceManagerTest, ASecondServiceOnOneStateRootIsRefusedWhileTheFirstRuns) {
    const auto root = posix::StateRoot::At(m_tp.Root());
    auto first = std::make_unique<posix::PosixServiceHost>(root.ControlSocketPath(), root.InstanceLockPath());
    ASSERT_EQ(first->ClaimServiceInstance(u"Corvane"), 0u);
    EXPECT_EQ(first->ClaimServiceInstance(u"Corvane"), 0u) << "a claim already held is kept";
    {
        posix::PosixServiceHost second(root.ControlSocketPath(), root.InstanceLockPath());
        EXPECT_EQ(second.ClaimServiceInstance(u"Corvane"), WinError::ServiceAlreadyRunning);
    }
    first.reset();
    posix::PosixServiceHost later(root.ControlSocketPath(), root.InstanceLockPath());
    EXPECT_EQ(later.ClaimServiceInstance(u"Corvane"), 0u);

    test::TestPlatform other;
    const auto otherRoot = posix::StateRoot::At(other.Root());
    posix::PosixServiceHost elsewhere(otherRoot.ControlSocketPath(), otherRoot.InstanceLockPath());
    EXPECT_EQ(elsewhere.ClaimServiceInstance(u"Corvane"), 0u) << "another state root is another machine";
}

struct QuoteCase {
    const char* label;
    std::string word;
    bool commandLine;
    std::string quoted;
};

void PrintTo(const QuoteCase& c, std::ostream* os) { *os << c.label; }

class QuoteUnitWordTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteUnitWordTest, QuotesSoThatSystemdReadsTheWordLiterally) {
    EXPECT_EQ(posix::PosixServiceManager::QuoteUnitWord(GetParam().word, GetParam().commandLine), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuoteUnitWordTest,
    ::testing::Values(QuoteCase {"Plain", "/usr/bin/corvane", true, "\"/usr/bin/corvane\""},
                      QuoteCase {"Blank", "/opt/my corvane/corvane", true, "\"/opt/my corvane/corvane\""},
                      QuoteCase {"QuoteAndBackslash", "/a\"b\\c", true, "\"/a\\\"b\\\\c\""},
                      QuoteCase {"PercentIsASpecifier", "/50%/x", true, "\"/50%%/x\""},
                      QuoteCase {"DollarOnCommandLines", "/a$HOME", true, "\"/a$$HOME\""},
                      QuoteCase {"DollarElsewhere", "A=$b", false, "\"A=$b\""}),
    [](const ::testing::TestParamInfo<QuoteCase>& info) { return std::string(info.param.label); });

TEST(PosixServiceManagerText, DescriptionStaysOnOneLine) {
    const std::string unit = "[Unit]\nDescription=old\nAfter=network.target\n";

    EXPECT_EQ(posix::PosixServiceManager::ReplaceDescription(unit, "two\nlines 5%"),
              "[Unit]\nDescription=two lines 5%%\nAfter=network.target\n");
}

}  // namespace
}  // namespace corvane
