// Under the service control manager the service starts in the system folder. After the start step
// the current directory is the program's folder, where the idle-time program lies and where a
// bare-name start of "UserIdleTime.exe" finds it.
#include "service/program_folder.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <string>

#include "platform/text.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_system.h"

namespace corvane {
namespace {

std::wstring CurrentDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD n = ::GetCurrentDirectoryW(MAX_PATH, buffer);
    std::wstring out(buffer, n < MAX_PATH ? n : 0);
    if (!out.empty() && out.back() != L'\\') out += L'\\';
    return out;
}

TEST(Win32ProgramFolder, AfterStartTheIdleProgramIsFoundByBareName) {
    win32::Win32System system;
    std::u16string systemFolder;
    ASSERT_EQ(system.GetSystemDirectory(systemFolder), 0u);
    ASSERT_EQ(system.SetCurrentDirectory(systemFolder), 0u);
    const std::wstring before = CurrentDirectory();

    std::u16string folder;
    ASSERT_EQ(ProgramFolder(system, folder), 0u);
    ASSERT_EQ(EnterProgramFolder(system), 0u);
    const std::wstring now = CurrentDirectory();
    EXPECT_NE(now, before);
    EXPECT_TRUE(EqualsNoCase(std::u16string(now.begin(), now.end()), folder)) << Utf16ToUtf8(folder);

    ASSERT_NE(::GetFileAttributesW(L"UserIdleTime.exe"), INVALID_FILE_ATTRIBUTES)
        << "UserIdleTime.exe is not beside the program in " << Utf16ToUtf8(folder);
    // The same call shape as the idle probe: application name only, no directory.
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child {};
    ASSERT_TRUE(::CreateProcessW(L"UserIdleTime.exe", nullptr, nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                                 nullptr, nullptr, &startup, &child))
        << ::GetLastError();
    EXPECT_EQ(::WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(::GetExitCodeProcess(child.hProcess, &code));
    std::printf("UserIdleTime.exe started from the program folder and exited with %ld\n",
                static_cast<long>(static_cast<int32_t>(code)));
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
}

}  // namespace
}  // namespace corvane
