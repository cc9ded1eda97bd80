// A privilege enabled in a token for a scope, and left afterwards as it was found: a privilege
// that was enabled before (by the service or anything else in the process) stays enabled.
#pragma once

#include "platform/win32/win32_api.h"

#include <cstdint>

namespace corvane::win32 {

class CScopedPrivilege {
public:
    // Enables the privilege in the token (which needs TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY).
    CScopedPrivilege(HANDLE token, const LUID& luid);
    // Puts back the state the privilege had before.
    ~CScopedPrivilege();
    CScopedPrivilege(const CScopedPrivilege&) = delete;
    CScopedPrivilege& operator=(const CScopedPrivilege&) = delete;

    // 0 when enabled, else the error (ERROR_NOT_ALL_ASSIGNED when the token does not hold it).
    uint32_t Result() const { return m_result; }

private:
    HANDLE m_token;
    TOKEN_PRIVILEGES m_previous {};
    bool m_adjusted = false;
    uint32_t m_result = 0;
};

}  // namespace corvane::win32
