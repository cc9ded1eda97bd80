#include "platform/win32/win32_system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/file_time.h"
#include "platform/guid_text.h"
#include "platform/text.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_sockets.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

bool EndsWithNoCase(const std::u16string& text, std::u16string_view tail) {
    return text.size() >= tail.size() &&
           EqualsNoCase(std::u16string_view(text).substr(text.size() - tail.size()), tail);
}

TEST(Win32System, MachineIdentityAndFolders) {
    win32::Win32System system;
    std::u16string text;
    ASSERT_EQ(system.GetComputerNameNetBios(text), 0u);
    EXPECT_FALSE(text.empty());
    EXPECT_LE(text.size(), 15u);
    EXPECT_EQ(system.GetComputerNameDnsDomain(text), 0u);

    ASSERT_EQ(system.GetModuleFileName(text), 0u);
    EXPECT_TRUE(EndsWithNoCase(text, u"platform_win32_tests.exe")) << Utf16ToUtf8(text);
    EXPECT_NE(system.GetCommandLine().find(u"platform_win32_tests"), std::u16string::npos);

    ASSERT_EQ(system.GetProgramDataFolder(text), 0u);
    EXPECT_TRUE(EndsWithNoCase(text, u"\\ProgramData")) << Utf16ToUtf8(text);
    ASSERT_EQ(system.GetWindowsFolder(text), 0u);
    EXPECT_TRUE(EndsWithNoCase(text, u"\\windows")) << Utf16ToUtf8(text);
    ASSERT_EQ(system.GetSystemDirectory(text), 0u);
    EXPECT_TRUE(EndsWithNoCase(text, u"\\system32")) << Utf16ToUtf8(text);
    EXPECT_STREQ(system.LineEnd(), "\r\n");
}

TEST(Win32System, JoinPathAndCreateDirectories) {
    win32::Win32System system;
    test::TempDir dir;
    EXPECT_EQ(system.JoinPath(u"C:\\windows", u"VSCCrl/Cache"), u"C:\\windows\\VSCCrl\\Cache");
    EXPECT_EQ(system.JoinPath(u"C:\\", u"x"), u"C:\\x");

    const std::u16string nested = system.JoinPath(Utf8ToUtf16(dir.Path()), u"VSCCrl\\Cache\\Offline");
    EXPECT_EQ(system.CreateDirectories(nested), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path("VSCCrl/Cache/Offline")));
    EXPECT_EQ(system.CreateDirectories(nested), 0u) << "an existing folder is fine";
}

TEST(Win32System, GuidsAndRandomBytesComeFromTheSystem) {
    win32::Win32System system;
    Guid a;
    Guid b;
    ASSERT_EQ(system.CreateGuid(a), 0u);
    ASSERT_EQ(system.CreateGuid(b), 0u);
    EXPECT_FALSE(a == b);
    EXPECT_EQ(a.data3 >> 12, 4) << "a random (version 4) GUID: " << Utf16ToUtf8(FormatGuid(a));
    EXPECT_TRUE(ParseGuid(FormatGuid(a)).has_value());

    uint8_t bytes[64] = {};
    ASSERT_EQ(system.GenRandom(bytes, sizeof bytes), 0u);
    int zeros = 0;
    for (uint8_t byte : bytes) zeros += byte == 0;
    EXPECT_LT(zeros, 16);
}

TEST(Win32System, RunCommandWaitsForTheChildAndReportsWhetherItStarted) {
    win32::Win32System system;
    test::TempDir dir;
    std::string marker = dir.Path("marker.txt");
    for (auto& c : marker) c = c == '/' ? '\\' : c;

    EXPECT_TRUE(system.RunCommand(u"cmd.exe /c echo done> \"" + Utf8ToUtf16(marker) + u"\""));
    EXPECT_TRUE(std::filesystem::exists(marker)) << "the child has finished when RunCommand returns";
    EXPECT_FALSE(system.RunCommand(u"no-such-program-corvane.exe"));
}

TEST(Win32System, MessagesDoNotWaitWithoutADesktop) {
    // Under Wine without a display, and in any session without a visible desktop, the message goes
    // to standard error and the call returns at once.
    win32::Win32System system;
    const auto start = std::chrono::steady_clock::now();
    system.ShowMessage(u"Couldn't open service", u"Corvane");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(Win32Clock, TicksAndTimesMove) {
    win32::Win32Clock clock;
    const uint32_t before = clock.GetTickCount();
    const FileTime utc = clock.GetSystemTimeAsFileTime();
    clock.Sleep(50);
    // The tick count moves in steps of up to 16 ms, so a reading taken just before a step makes
    // the 50 ms look up to one step shorter.
    EXPECT_GE(TicksSince(clock.GetTickCount(), before), 50u - 16u);
    EXPECT_GT(utc, UnixSecondsToFileTime(1700000000));
    const FileTime local = clock.ToLocalFileTime(utc);
    EXPECT_LE(std::llabs(local - utc), 14 * 3600 * kFileTimePerSecond);
}

TEST(Win32Sockets, EachStartupIsReleasedByOneCleanup) {
    win32::Win32Sockets sockets;
    ASSERT_EQ(sockets.Startup(), 0);
    ASSERT_EQ(sockets.Startup(), 0);
    EXPECT_EQ(sockets.Cleanup(), 0);
    EXPECT_EQ(sockets.Cleanup(), 0);
    EXPECT_EQ(sockets.Cleanup(), WsaError::NotInitialised);
}

}  // namespace
}  // namespace corvane
