// Windows' own DLLs come from the system folder only: a DLL of the same name beside the program
// is not loaded, although a bare-name LoadLibraryW finds it there.
#include "platform/win32/win32_system_library.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(Win32SystemLibrary, LoadsFromTheSystemFolderAndNeverBesideTheProgram) {
    // corvane_planted.dll is built into the test program's folder.
    HMODULE planted = ::LoadLibraryW(L"corvane_planted.dll");
    ASSERT_NE(planted, nullptr) << "the planted DLL is not beside the test program: " << ::GetLastError();
    ::FreeLibrary(planted);

    ::SetLastError(0);
    EXPECT_EQ(win32::LoadSystemLibrary(L"corvane_planted.dll"), nullptr);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    HMODULE system = win32::LoadSystemLibrary(L"version.dll");
    ASSERT_NE(system, nullptr) << ::GetLastError();
    EXPECT_NE(::GetProcAddress(system, "GetFileVersionInfoSizeW"), nullptr);
    ::FreeLibrary(system);
}

}  // namespace
}  // namespace corvane
