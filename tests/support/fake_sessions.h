// Sessions for tests: a table of WTSINFOEXW records that a test fills and changes directly,
// with recorded disconnects and logoffs, a scripted idle-time program, trusts, a version, and
// failures to inject. Disconnect and logoff only record the call (and fail when told to); the
// test decides what the session looks like afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sessions.h"

namespace corvane::test {

class FakeSessions final : public ISessions {
public:
    uint32_t EnumerateSessions(std::vector<WtsSessionEntry>& out) override;
    uint32_t QuerySessionInfoEx(uint32_t sessionId, WtsInfoEx& out) override;
    uint32_t QuerySessionInfo(uint32_t sessionId) override;
    uint32_t QueryUserName(uint32_t sessionId, std::u16string& out) override;
    uint32_t QueryDomainName(uint32_t sessionId, std::u16string& out) override;
    uint32_t DisconnectSession(uint32_t sessionId) override;
    uint32_t LogoffSession(uint32_t sessionId) override;
    uint32_t FindUserProcess(uint32_t sessionId, std::u16string_view user, std::u16string_view domain,
                             uint32_t& processId) override;
    uint32_t TestUserToken(uint32_t sessionId) override;
    uint32_t RunIdleProgram(uint32_t processId, int32_t* exitCode) override;
    uint32_t EnumerateDomainTrusts(std::vector<DomainTrust>& out) override;
    void GetOsVersion(uint32_t& major, uint32_t& minor) override;
    uint32_t InitiateShutdown() override;

    // Adds or replaces a session; CurrentTime is filled in by each query from `now` when it is 0.
    void Set(const WtsInfoEx& info);
    void Erase(uint32_t sessionId);
    // A user session: active and unlocked unless told otherwise.
    static WtsInfoEx UserSession(uint32_t id, std::u16string user, std::u16string domain,
                                 std::u16string station = u"Console", int32_t state = WtsConnectState::Active,
                                 int32_t flags = WtsSessionFlags::Unlock);
    std::vector<uint32_t> Disconnected() const;
    std::vector<uint32_t> LoggedOff() const;
    size_t QueryCount() const;

    // Scripted behaviour; set before the code under test runs.
    FileTime now = 0;  // CurrentTime of the queries (0: as set)
    uint32_t enumerateError = 0;
    uint32_t queryError = 0;       // every QuerySessionInfoEx fails with it
    uint32_t disconnectError = 0;
    uint32_t logoffError = 0;
    uint32_t trustError = 0;
    std::vector<DomainTrust> trusts;
    // Runs at every trust enumeration before it answers (a domain controller taking its time).
    std::function<void()> onTrustEnumeration;
    uint32_t osMajor = 10;
    uint32_t osMinor = 0;
    uint32_t shutdownError = 0;
    int shutdowns = 0;
    // The idle probe: the program's exit code, or an error of starting it (2 when it is missing).
    int32_t idleMilliseconds = 0;
    uint32_t idleProgramError = 0;
    int idleProbes = 0;

private:
    mutable std::mutex m_mutex;
    std::map<uint32_t, WtsInfoEx> m_sessions;
    std::vector<uint32_t> m_disconnected;
    std::vector<uint32_t> m_loggedOff;
    size_t m_queries = 0;
};

}  // namespace corvane::test
