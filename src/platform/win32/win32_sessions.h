// Remote desktop services on Windows: the real WTS calls, the idle probe with
// CreateProcessAsUserW, the domain trusts and the shutdown.
#pragma once

#include "platform/sessions.h"

namespace corvane::win32 {

class Win32Sessions final : public ISessions {
public:
    explicit Win32Sessions(uint32_t idleProgramWaitMs = kIdleProgramWaitMilliseconds)
        : m_idleProgramWaitMs(idleProgramWaitMs) {}

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

private:
    uint32_t m_idleProgramWaitMs;
};

}  // namespace corvane::win32
