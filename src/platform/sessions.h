// Remote desktop services (WTS) and the few process, token, trust and shutdown calls that the
// session monitor and its actions need. On Windows these are the real calls; on POSIX a
// simulated session manager stands in, keeping its sessions on disk so that they outlive the
// service and delivering session-change controls to the running service as Windows does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace corvane {

// WTS_CONNECTSTATE_CLASS.
namespace WtsConnectState {
constexpr int32_t Active = 0;
constexpr int32_t Connected = 1;
constexpr int32_t ConnectQuery = 2;
constexpr int32_t Shadow = 3;
constexpr int32_t Disconnected = 4;
constexpr int32_t Idle = 5;
constexpr int32_t Listen = 6;
constexpr int32_t Reset = 7;
constexpr int32_t Down = 8;
constexpr int32_t Init = 9;
}  // namespace WtsConnectState

// SessionFlags of WTSINFOEXW.
namespace WtsSessionFlags {
constexpr int32_t Lock = 0;     // WTS_SESSIONSTATE_LOCK
constexpr int32_t Unlock = 1;   // WTS_SESSIONSTATE_UNLOCK
constexpr int32_t Unknown = -1;  // WTS_SESSIONSTATE_UNKNOWN (0xFFFFFFFF)
}  // namespace WtsSessionFlags

// WTSINFOEXW level 1, as WTSQuerySessionInformationW(WTSSessionInfoEx) returns it.
struct WtsInfoEx {
    uint32_t SessionId = 0;
    int32_t SessionState = WtsConnectState::Down;  // the connect state
    int32_t SessionFlags = WtsSessionFlags::Unknown;
    std::u16string WinStationName;
    std::u16string UserName;
    std::u16string DomainName;
    FileTime LogonTime = 0;
    FileTime ConnectTime = 0;
    FileTime DisconnectTime = 0;
    FileTime LastInputTime = 0;
    FileTime CurrentTime = 0;
};

// One entry of WTSEnumerateSessionsW (WTS_SESSION_INFOW).
struct WtsSessionEntry {
    uint32_t SessionId = 0;
    std::u16string WinStationName;
    int32_t State = WtsConnectState::Down;
};

// One trusted domain of DsEnumerateDomainTrustsW: its NetBIOS and DNS names.
struct DomainTrust {
    std::u16string NetbiosDomainName;
    std::u16string DnsDomainName;
};

// The idle-time program answers at once. One that has not exited after this long is ended and the
// probe fails with WAIT_TIMEOUT: its caller holds the session table meanwhile, and with it the
// handling of session changes and the end of the service's stop.
constexpr uint32_t kIdleProgramWaitMilliseconds = 5000;
constexpr uint32_t kIdleProgramTimedOut = 258;  // WAIT_TIMEOUT

class ISessions {
public:
    virtual ~ISessions() = default;

    // WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1): 0 or a Windows error.
    virtual uint32_t EnumerateSessions(std::vector<WtsSessionEntry>& out) = 0;
    // WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, id, WTSSessionInfoEx): 0 or a
    // Windows error (a session that no longer exists fails).
    virtual uint32_t QuerySessionInfoEx(uint32_t sessionId, WtsInfoEx& out) = 0;
    // WTSQuerySessionInformationW(..., WTSSessionInfo): 0 while the session can be queried.
    virtual uint32_t QuerySessionInfo(uint32_t sessionId) = 0;
    // WTSQuerySessionInformationW(..., WTSUserName / WTSDomainName).
    virtual uint32_t QueryUserName(uint32_t sessionId, std::u16string& out) = 0;
    virtual uint32_t QueryDomainName(uint32_t sessionId, std::u16string& out) = 0;
    // WTSDisconnectSession / WTSLogoffSession(WTS_CURRENT_SERVER_HANDLE, id, FALSE): 0 or a
    // Windows error. Neither waits; the session-change notifications follow on their own.
    virtual uint32_t DisconnectSession(uint32_t sessionId) = 0;
    virtual uint32_t LogoffSession(uint32_t sessionId) = 0;

    // The idle probe, in its three steps.
    // WTSEnumerateProcessesW and LookupAccountSidW: the first process of the session whose owner
    // is user and domain (ignoring case). 0, 127 (ERROR_PROC_NOT_FOUND) when there is none, or
    // the error of the enumeration.
    virtual uint32_t FindUserProcess(uint32_t sessionId, std::u16string_view user, std::u16string_view domain,
                                     uint32_t& processId) = 0;
    // WTSQueryUserToken for the session, closed again at once: 0 or a Windows error.
    virtual uint32_t TestUserToken(uint32_t sessionId) = 0;
    // Starts "UserIdleTime.exe" in the session with the found process's duplicated token and,
    // when exitCode is given, waits for it (at most kIdleProgramWaitMilliseconds) and stores its
    // exit code. Returns the error of a failed step, else the result of enabling SeDebugPrivilege
    // in the token (0 or an error; the program runs either way).
    virtual uint32_t RunIdleProgram(uint32_t processId, int32_t* exitCode) = 0;

    // DsEnumerateDomainTrustsW(null, DS_DOMAIN_IN_FOREST | DS_DOMAIN_DIRECT_OUTBOUND |
    // DS_DOMAIN_TREE_ROOT | DS_DOMAIN_PRIMARY): 0 or a Windows error.
    virtual uint32_t EnumerateDomainTrusts(std::vector<DomainTrust>& out) = 0;
    // GetVersionExW: major and minor version.
    virtual void GetOsVersion(uint32_t& major, uint32_t& minor) = 0;
    // Enables SeShutdownPrivilege, InitiateSystemShutdownW(null, null, 0, FALSE, FALSE), then puts
    // the privilege back to the state it had before (enabled stays enabled): 0, or the error of a
    // step up to the shutdown call.
    virtual uint32_t InitiateShutdown() = 0;
};

}  // namespace corvane
