#include "platform/win32/win32_privilege.h"

namespace corvane::win32 {

CScopedPrivilege::CScopedPrivilege(HANDLE token, const LUID& luid) : m_token(token) {
    TOKEN_PRIVILEGES wanted {};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Luid = luid;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD size = sizeof m_previous;
    if (!::AdjustTokenPrivileges(token, FALSE, &wanted, sizeof m_previous, &m_previous, &size)) {
        m_result = ::GetLastError();
        return;
    }
    // Success with ERROR_NOT_ALL_ASSIGNED: the token does not hold the privilege.
    m_result = ::GetLastError();
    // The previous state lists only what the call changed: nothing when it was enabled already.
    m_adjusted = m_result == 0 && m_previous.PrivilegeCount != 0;
}

CScopedPrivilege::~CScopedPrivilege() {
    if (m_adjusted) ::AdjustTokenPrivileges(m_token, FALSE, &m_previous, 0, nullptr, nullptr);
}

}  // namespace corvane::win32
