// A privilege enabled for a scope goes back to the state it was found in: one that was enabled
// before stays enabled, one that was disabled is disabled again.
#include "platform/win32/win32_privilege.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane {
namespace {

// Whether the token holds the privilege, and whether it is enabled.
bool PrivilegeState(HANDLE token, const LUID& luid, bool& enabled) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) return false;
    const auto* list = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < list->PrivilegeCount; ++i) {
        const LUID& l = list->Privileges[i].Luid;
        if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart) {
            enabled = (list->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
            return true;
        }
    }
    return false;
}

void SetState(HANDLE token, const LUID& luid, bool enabled) {
    TOKEN_PRIVILEGES p {};
    p.PrivilegeCount = 1;
    p.Privileges[0].Luid = luid;
    p.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
    ASSERT_TRUE(::AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr));
}

TEST(Win32Privilege, TheShutdownPrivilegeGoesBackToItsPreviousState) {
    HANDLE token = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    LUID shutdown {};
    ASSERT_TRUE(::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown));
    bool enabled = false;
    if (!PrivilegeState(token, shutdown, enabled)) {
        ::CloseHandle(token);
        GTEST_SKIP() << "this process token does not hold SeShutdownPrivilege";
    }
    for (bool before : {false, true}) {
        SetState(token, shutdown, before);
        {
            win32::CScopedPrivilege scoped(token, shutdown);
            ASSERT_EQ(scoped.Result(), 0u) << "before: " << before;
            ASSERT_TRUE(PrivilegeState(token, shutdown, enabled));
            EXPECT_TRUE(enabled) << "before: " << before;
        }
        ASSERT_TRUE(PrivilegeState(token, shutdown, enabled));
        EXPECT_EQ(enabled, before);
    }
    SetState(token, shutdown, false);
    ::CloseHandle(token);
}

}  // namespace
}  // namespace corvane
