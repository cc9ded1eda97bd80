// The text event log: file, byte-order mark, timestamp, line end, the session lines, and no
// line lost between writers of the process.
#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <set>
#include <thread>

#include "platform/file_time.h"
#include "platform/text.h"
#include "records_test_support.h"
#include "session/event_log.h"
#include "session/event_log_lines.h"
#include "session/event_names.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr const char* kLocalNow = "2026-01-01 01:00:00";  // the fake clock's local time (UTC+1)

// The test machine with another line end, to see the log follow the platform's.
class CrLfSystem final : public ISystem {
public:
    explicit CrLfSystem(ISystem& inner) : m_inner(inner) {}
    uint32_t GetComputerNameNetBios(std::u16string& out) override { return m_inner.GetComputerNameNetBios(out); }
    uint32_t GetComputerNameDnsDomain(std::u16string& out) override { return m_inner.GetComputerNameDnsDomain(out); }
    uint16_t GetUserDefaultUILanguage() override { return m_inner.GetUserDefaultUILanguage(); }
    void SetUserDefaultLocale() override {}
    std::u16string GetCommandLine() override { return m_inner.GetCommandLine(); }
    uint32_t GetModuleFileName(std::u16string& out) override { return m_inner.GetModuleFileName(out); }
    uint32_t GetProgramDataFolder(std::u16string& out) override { return m_inner.GetProgramDataFolder(out); }
    uint32_t GetWindowsFolder(std::u16string& out) override { return m_inner.GetWindowsFolder(out); }
    uint32_t GetSystemDirectory(std::u16string& out) override { return m_inner.GetSystemDirectory(out); }
    std::u16string JoinPath(std::u16string_view f, std::u16string_view n) override { return m_inner.JoinPath(f, n); }
    uint32_t CreateDirectories(std::u16string_view path) override { return m_inner.CreateDirectories(path); }
    bool RunCommand(std::u16string_view line) override { return m_inner.RunCommand(line); }
    uint32_t CreateGuid(Guid& out) override { return m_inner.CreateGuid(out); }
    uint32_t GenRandom(void* buffer, size_t size) override { return m_inner.GenRandom(buffer, size); }
    void ShowMessage(std::u16string_view text, std::u16string_view caption) override {}
    const char* LineEnd() override { return "\r\n"; }

private:
    ISystem& m_inner;
};

class EventLogTest : public ::testing::Test {
protected:
    EventLogTest() { EXPECT_TRUE(MakeDirs(SystemDir())); }
    std::string SystemDir() const { return platform.Root() + "/var/log/corvane"; }
    std::string LogPath() const { return SystemDir() + "/Zentik.Log"; }

    TestPlatform platform;
};

TEST_F(EventLogTest, ALogThatCannotBeWrittenIsSaidOnceAndSoIsItsReturn) {
    // A directory where the file should be: every line is lost until it is gone.
    ASSERT_TRUE(std::filesystem::create_directory(LogPath()));
    CEventLog log(platform.Get());
    log.WriteEventLine(u"lost one");
    log.WriteEventLine(u"lost two");
    std::vector<std::string> lines = platform.DiagnosticLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("the event log " + LogPath() + " cannot be written: "), std::string::npos) << lines[0];
    std::filesystem::remove(LogPath());
    log.WriteEventLine(u"kept");
    lines = platform.DiagnosticLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("is written again"), std::string::npos) << lines[1];
}

TEST_F(EventLogTest, FirstLineCreatesTheFileWithByteOrderMarkAndLaterLinesAppend) {
    CEventLog log(platform.Get());
    EXPECT_EQ(Utf16ToUtf8(log.GetPath()), LogPath());
    log.WriteEventLine(u"first");
    platform.clock.Advance(61000);
    log.WriteEventLine(u"System:PC1|2|CONTOSO\\\u00E4nna|Locked");

    EXPECT_EQ(ReadFileBytes(LogPath()), std::string(kBom) + kLocalNow + " first\n" +
                                            "2026-01-01 01:01:01 System:PC1|2|CONTOSO\\\xC3\xA4nna|Locked\n");
}

TEST_F(EventLogTest, ExistingFileGetsNoSecondByteOrderMark) {
    WriteFileBytes(LogPath(), "earlier line\n");
    CEventLog log(platform.Get());
    log.WriteEventLine(u"next");
    EXPECT_EQ(ReadFileBytes(LogPath()), std::string("earlier line\n") + kLocalNow + " next\n");
}

TEST_F(EventLogTest, EveryLineFeedBecomesThePlatformLineEnd) {
    CrLfSystem system(platform.system);
    Platform windowsLike = platform.Get();
    windowsLike.system = &system;
    CEventLog log(windowsLike);
    log.WriteEventLine(u"two\nparts");
    EXPECT_EQ(ReadFileBytes(LogPath()), std::string(kBom) + kLocalNow + " two\r\nparts\r\n");
}

TEST_F(EventLogTest, WritersOfTheProcessLoseNoLine) {
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 150;
    CEventLog log(platform.Get());
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kLinesEach; ++i) log.WriteEventLine(Utf8ToUtf16(FormatUtf8("thread %d line %d", t, i)));
        });
    }
    for (auto& t : threads) t.join();

    const std::string text = ReadFileBytes(LogPath());
    ASSERT_EQ(text.rfind(kBom, 0), 0u);
    std::set<std::string> lines;
    size_t count = 0;
    for (size_t start = 3, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.insert(text.substr(start, nl - start));
        ++count;
    }
    EXPECT_EQ(count, static_cast<size_t>(kThreads * kLinesEach));
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLinesEach; ++i) {
            EXPECT_TRUE(lines.count(std::string(kLocalNow) + FormatUtf8(" thread %d line %d", t, i))) << t << "/" << i;
        }
    }
}

// The session lines, with the examples of the product's own records.
TEST(EventLogLinesTest, SessionLines) {
    const EventLineSession anna {u"PC1", 2, u"CONTOSO", u"anna"};
    const FileTime logon = CalendarToFileTime({2026, 3, 0, 14, 8, 5, 9, 0});
    const struct {
        const char* label;
        std::u16string line, want;
    } cases[] = {
        {"lock", FormatStateChangeLine(anna, 7, 1), u"System:PC1|2|CONTOSO\\anna|Locked"},
        {"unlock", FormatStateChangeLine(anna, 8, 1), u"System:PC1|2|CONTOSO\\anna|Unlock|Console"},
        {"remote connect", FormatStateChangeLine(anna, 3, 2), u"System:PC1|2|CONTOSO\\anna|Remote Connect|Remote Desktop"},
        {"unknown event", FormatStateChangeLine(anna, 12, 0), u"System:PC1|2|CONTOSO\\anna|Unknown Event|Unknown Desktop"},
        {"logon", FormatLogonLine(anna, 1, logon), u"System:PC1|2|CONTOSO\\anna|Logon|Console|2026-03-14 08:05:09"},
        {"enumerated locked remote session", FormatLoginedLine(anna, 7, 2, logon, false),
         u"System:PC1|2|CONTOSO\\anna|Logined(WTS_SESSION_LOCK)|Remote Desktop|2026-03-14 08:05:09|Add"},
        {"enumerated record of unknown state", FormatLoginedLine(anna, 0, 1, logon, true),
         u"System:PC1|2|CONTOSO\\anna|Logined(UNKNOWN Event Type)|Console|2026-03-14 08:05:09|Update"},
        {"logon time 0 is the FILETIME epoch", FormatLogonLine(anna, 1, 0),
         u"System:PC1|2|CONTOSO\\anna|Logon|Console|1601-01-01 00:00:00"},
        {"logon time that cannot be converted", FormatLogonLine(anna, 1, -1),
         u"System:PC1|2|CONTOSO\\anna|Logon|Console|"},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf16ToUtf8(c.line), Utf16ToUtf8(c.want)) << c.label;
}

TEST(EventLogLinesTest, EventNameTables) {
    const struct {
        int32_t code;
        std::u16string_view logined, stateChange;
    } cases[] = {
        {1, u"WTS_CONSOLE_CONNECT", u"Console Connect"},   {2, u"WTS_CONSOLE_DISCONNECT", u"Console Disconnect"},
        {3, u"WTS_REMOTE_CONNECT", u"Remote Connect"},     {4, u"WTS_REMOTE_DISCONNECT", u"Remote Disconnect"},
        {5, u"WTS_SESSION_LOGON", u"Logon"},               {6, u"WTS_SESSION_LOGOFF", u"Logoff"},
        {7, u"WTS_SESSION_LOCK", u"Locked"},               {8, u"WTS_SESSION_UNLOCK", u"Unlock"},
        {9, u"WTS_SESSION_REMOTE_CONTROL", u"Remote Control"}, {10, u"WTS_SESSION_CREATE", u"Session Create"},
        {11, u"WTS_SESSION_TERMINATE", u"Session Terminate"}, {0, u"UNKNOWN Event Type", u"Unknown Event"},
        {12, u"UNKNOWN Event Type", u"Unknown Event"},     {-1, u"UNKNOWN Event Type", u"Unknown Event"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoginedEventName(c.code), c.logined) << c.code;
        EXPECT_EQ(StateChangeEventName(c.code), c.stateChange) << c.code;
    }
    EXPECT_EQ(DesktopName(1), u"Console");
    EXPECT_EQ(DesktopName(2), u"Remote Desktop");
    EXPECT_EQ(DesktopName(0), u"Unknown Desktop");
    EXPECT_EQ(DesktopName(3), u"Unknown Desktop");
}

}  // namespace
}  // namespace corvane::test
