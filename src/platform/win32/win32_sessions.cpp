#include "platform/win32/win32_sessions.h"

#include "platform/win32/win32_api.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_privilege.h"

#include <dsgetdc.h>
#include <lmcons.h>
#include <lmapibuf.h>
#include <userenv.h>
#include <wtsapi32.h>

#include "platform/text.h"

namespace corvane::win32 {

namespace {
// WTSQuerySessionInformationW(WTSSessionInfoEx) and its WTSINFOEXW result, which the mingw-w64
// headers do not declare (Windows 7 and later; layout as the SDK documents it).
constexpr WTS_INFO_CLASS kWtsSessionInfoEx = static_cast<WTS_INFO_CLASS>(25);
constexpr size_t kWinStationNameLength = 32;
constexpr size_t kUserNameLength = 20;
constexpr size_t kDomainLength = 17;

struct WtsInfoExLevel1W {
    ULONG SessionId;
    WTS_CONNECTSTATE_CLASS SessionState;
    LONG SessionFlags;
    WCHAR WinStationName[kWinStationNameLength + 1];
    WCHAR UserName[kUserNameLength + 1];
    WCHAR DomainName[kDomainLength + 1];
    LARGE_INTEGER LogonTime;
    LARGE_INTEGER ConnectTime;
    LARGE_INTEGER DisconnectTime;
    LARGE_INTEGER LastInputTime;
    LARGE_INTEGER CurrentTime;
    DWORD IncomingBytes;
    DWORD OutgoingBytes;
    DWORD IncomingFrames;
    DWORD OutgoingFrames;
    DWORD IncomingCompressedBytes;
    DWORD OutgoingCompressedBytes;
};

struct WtsInfoExW {
    DWORD Level;
    union {
        WtsInfoExLevel1W WTSInfoExLevel1;
    } Data;
};

constexpr ULONG kTrustFlags = DS_DOMAIN_IN_FOREST | DS_DOMAIN_DIRECT_OUTBOUND | DS_DOMAIN_TREE_ROOT | DS_DOMAIN_PRIMARY;
constexpr DWORD kProbeTokenAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES |
                                    TOKEN_ADJUST_GROUPS | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID |
                                    READ_CONTROL;  // 0x201EB
constexpr DWORD kIdleProgramFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;  // 0x430
constexpr uint32_t kErrorProcNotFound = ERROR_PROC_NOT_FOUND;  // 127

// A bounded copy of a fixed-size WCHAR field.
std::u16string FromField(const WCHAR* field, size_t capacity) {
    size_t n = 0;
    while (n < capacity && field[n] != 0) ++n;
    return FromWide(field, n);
}

// One WTSQuerySessionInformationW string value.
uint32_t QueryString(uint32_t sessionId, WTS_INFO_CLASS infoClass, std::u16string& out) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, infoClass, &buffer, &bytes)) {
        return ::GetLastError();
    }
    out = FromWide(buffer, bytes >= sizeof(WCHAR) ? wcsnlen(buffer, bytes / sizeof(WCHAR)) : 0);
    ::WTSFreeMemory(buffer);
    return 0;
}

// Enables or disables one privilege in a token: 0, or the error (ERROR_NOT_ALL_ASSIGNED when the
// token does not hold it).
uint32_t SetPrivilege(HANDLE token, const LUID& luid, bool enable) {
    TOKEN_PRIVILEGES privileges {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr)) {
        return ::GetLastError();
    }
    return ::GetLastError();
}

// Closes the handles it holds when it goes.
struct Handles {
    ~Handles() {
        for (HANDLE h : list) {
            if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        }
    }
    HANDLE Keep(HANDLE h) {
        list.push_back(h);
        return h;
    }
    std::vector<HANDLE> list;
};
}  // namespace

uint32_t Win32Sessions::EnumerateSessions(std::vector<WtsSessionEntry>& out) {
    PWTS_SESSION_INFOW sessions = nullptr;
    DWORD count = 0;
    if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) return ::GetLastError();
    out.clear();
    for (DWORD i = 0; i < count; ++i) {
        out.push_back({sessions[i].SessionId, FromWide(sessions[i].pWinStationName),
                       static_cast<int32_t>(sessions[i].State)});
    }
    ::WTSFreeMemory(sessions);
    return 0;
}

uint32_t Win32Sessions::QuerySessionInfoEx(uint32_t sessionId, WtsInfoEx& out) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, kWtsSessionInfoEx, &buffer, &bytes)) {
        return ::GetLastError();
    }
    const auto* info = reinterpret_cast<const WtsInfoExW*>(buffer);
    if (bytes < sizeof(WtsInfoExW) || info->Level != 1) {
        ::WTSFreeMemory(buffer);
        return ERROR_INVALID_DATA;
    }
    const WtsInfoExLevel1W& l1 = info->Data.WTSInfoExLevel1;
    out.SessionId = l1.SessionId;
    out.SessionState = static_cast<int32_t>(l1.SessionState);
    out.SessionFlags = static_cast<int32_t>(l1.SessionFlags);
    out.WinStationName = FromField(l1.WinStationName, kWinStationNameLength + 1);
    out.UserName = FromField(l1.UserName, kUserNameLength + 1);
    out.DomainName = FromField(l1.DomainName, kDomainLength + 1);
    out.LogonTime = l1.LogonTime.QuadPart;
    out.ConnectTime = l1.ConnectTime.QuadPart;
    out.DisconnectTime = l1.DisconnectTime.QuadPart;
    out.LastInputTime = l1.LastInputTime.QuadPart;
    out.CurrentTime = l1.CurrentTime.QuadPart;
    ::WTSFreeMemory(buffer);
    return 0;
}

uint32_t Win32Sessions::QuerySessionInfo(uint32_t sessionId) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSSessionInfo, &buffer, &bytes)) {
        return ::GetLastError();
    }
    ::WTSFreeMemory(buffer);
    return 0;
}

uint32_t Win32Sessions::QueryUserName(uint32_t sessionId, std::u16string& out) {
    return QueryString(sessionId, WTSUserName, out);
}

uint32_t Win32Sessions::QueryDomainName(uint32_t sessionId, std::u16string& out) {
    return QueryString(sessionId, WTSDomainName, out);
}

uint32_t Win32Sessions::DisconnectSession(uint32_t sessionId) {
    return ::WTSDisconnectSession(WTS_CURRENT_SERVER_HANDLE, sessionId, FALSE) ? 0 : ::GetLastError();
}

uint32_t Win32Sessions::LogoffSession(uint32_t sessionId) {
    return ::WTSLogoffSession(WTS_CURRENT_SERVER_HANDLE, sessionId, FALSE) ? 0 : ::GetLastError();
}

uint32_t Win32Sessions::FindUserProcess(uint32_t sessionId, std::u16string_view user, std::u16string_view domain,
                                        uint32_t& processId) {
    PWTS_PROCESS_INFOW processes = nullptr;
    DWORD count = 0;
    if (!::WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count)) return ::GetLastError();
    uint32_t result = kErrorProcNotFound;
    for (DWORD i = 0; i < count && result != 0; ++i) {
        if (processes[i].SessionId != sessionId || processes[i].pUserSid == nullptr) continue;
        WCHAR account[260] = {};
        WCHAR accountDomain[260] = {};
        DWORD accountSize = 260;
        DWORD domainSize = 260;
        SID_NAME_USE use {};
        if (!::LookupAccountSidW(nullptr, processes[i].pUserSid, account, &accountSize, accountDomain, &domainSize,
                                 &use)) {
            continue;
        }
        if (EqualsNoCase(FromField(account, 260), user) && EqualsNoCase(FromField(accountDomain, 260), domain)) {
            processId = processes[i].ProcessId;
            result = 0;
        }
    }
    ::WTSFreeMemory(processes);
    return result;
}

uint32_t Win32Sessions::TestUserToken(uint32_t sessionId) {
    HANDLE token = nullptr;
    if (!::WTSQueryUserToken(sessionId, &token)) return ::GetLastError();
    ::CloseHandle(token);
    return 0;
}

uint32_t Win32Sessions::RunIdleProgram(uint32_t processId, int32_t* exitCode) {
    Handles handles;
    // The error is read before anything else can run (keeping the handle allocates).
    HANDLE process = ::OpenProcess(MAXIMUM_ALLOWED, FALSE, processId);
    if (process == nullptr) return ::GetLastError();
    handles.Keep(process);
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, kProbeTokenAccess, &token)) return ::GetLastError();
    handles.Keep(token);
    LUID debug {};
    if (!::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug)) return ::GetLastError();
    HANDLE primary = nullptr;
    if (!::DuplicateTokenEx(token, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, &primary)) {
        return ::GetLastError();
    }
    handles.Keep(primary);
    // The result of enabling the privilege is what the probe reports; the program runs either way.
    const uint32_t result = SetPrivilege(primary, debug, true);

    LPVOID environment = nullptr;
    if (!::CreateEnvironmentBlock(&environment, primary, TRUE)) return ::GetLastError();
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION child {};
    // No directory: the program is looked for in the service's current directory.
    if (!::CreateProcessAsUserW(primary, L"UserIdleTime.exe", nullptr, nullptr, nullptr, FALSE, kIdleProgramFlags,
                                environment, nullptr, &startup, &child)) {
        const DWORD err = ::GetLastError();
        ::DestroyEnvironmentBlock(environment);
        return err;
    }
    handles.Keep(child.hProcess);
    handles.Keep(child.hThread);
    if (exitCode != nullptr) {
        const DWORD waited = ::WaitForSingleObject(child.hProcess, m_idleProgramWaitMs);
        if (waited != WAIT_OBJECT_0) {
            // A program that hangs is ended: it would hold the session table for as long.
            const DWORD err = waited == WAIT_TIMEOUT ? kIdleProgramTimedOut : ::GetLastError();
            ::TerminateProcess(child.hProcess, kIdleProgramTimedOut);
            ::DestroyEnvironmentBlock(environment);
            return err;
        }
        DWORD code = 0;
        if (::GetExitCodeProcess(child.hProcess, &code)) *exitCode = static_cast<int32_t>(code);
    }
    ::DestroyEnvironmentBlock(environment);
    return result;
}

uint32_t Win32Sessions::EnumerateDomainTrusts(std::vector<DomainTrust>& out) {
    PDS_DOMAIN_TRUSTSW domains = nullptr;
    ULONG count = 0;
    const DWORD err = ::DsEnumerateDomainTrustsW(nullptr, kTrustFlags, &domains, &count);
    if (err != ERROR_SUCCESS) return err;
    out.clear();
    for (ULONG i = 0; i < count; ++i) {
        out.push_back({FromWide(domains[i].NetbiosDomainName), FromWide(domains[i].DnsDomainName)});
    }
    ::NetApiBufferFree(domains);
    return 0;
}

void Win32Sessions::GetOsVersion(uint32_t& major, uint32_t& minor) {
    OSVERSIONINFOW version {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL ok = ::GetVersionExW(&version);
#pragma GCC diagnostic pop
    major = ok ? version.dwMajorVersion : 0;
    minor = ok ? version.dwMinorVersion : 0;
}

uint32_t Win32Sessions::InitiateShutdown() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return ::GetLastError();
    }
    Handles handles;
    handles.Keep(token);
    LUID shutdown {};
    if (!::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown)) return ::GetLastError();
    // The privilege goes back to the state it had, whatever the shutdown call gives.
    CScopedPrivilege privilege(token, shutdown);
    if (uint32_t err = privilege.Result()) return err;
    // This machine, no message, no delay, applications not forced to close, no restart.
    if (!::InitiateSystemShutdownW(nullptr, nullptr, 0, FALSE, FALSE)) return ::GetLastError();
    return 0;
}

}  // namespace corvane::win32
