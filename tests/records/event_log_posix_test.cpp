// The text event log against POSIX file behaviour: another writer holding the file, a full disk,
// something else in the file's place. Each line that cannot be written is dropped quietly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records_test_support.h"
#include "session/event_log.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr const char* kLocalNow = "2026-01-01 01:00:00";  // the fake clock's local time (UTC+1)

class EventLogPosixTest : public ::testing::Test {
protected:
    EventLogPosixTest() { EXPECT_TRUE(MakeDirs(SystemDir())); }
    std::string SystemDir() const { return platform.Root() + "/var/log/corvane"; }
    std::string LogPath() const { return SystemDir() + "/Zentik.Log"; }

    TestPlatform platform;
};

TEST_F(EventLogPosixTest, LineIsDroppedWhileAnotherProcessHoldsTheFile) {
    CEventLog log(platform.Get());
    log.WriteEventLine(u"before");
    // Another writer (its own open file, as another process has) holds the file.
    const int fd = ::open(LogPath().c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    log.WriteEventLine(u"dropped");
    ::close(fd);
    log.WriteEventLine(u"after");
    EXPECT_EQ(ReadFileBytes(LogPath()), std::string(kBom) + kLocalNow + " before\n" + kLocalNow + " after\n");
}

TEST_F(EventLogPosixTest, UnwritableTargetsDropTheLineQuietly) {
    const struct {
        const char* label;
        void (*make)(const std::string& logPath);
    } cases[] = {
        {"disk full", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/full", p.c_str()), 0); }},
        {"a directory in the file's place", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0); }},
    };
    for (const auto& c : cases) {
        TestPlatform fresh;
        const std::string dir = fresh.Root() + "/var/log/corvane";
        ASSERT_TRUE(MakeDirs(dir));
        c.make(dir + "/Zentik.Log");
        CEventLog log(fresh.Get());
        log.WriteEventLine(u"lost");  // must simply return
        SUCCEED() << c.label;
    }
}

}  // namespace
}  // namespace corvane::test
