#include "support/fake_sessions.h"

#include "platform/text.h"

namespace corvane::test {

namespace {
constexpr uint32_t kWinStationNotFound = 7022;
constexpr uint32_t kProcNotFound = 127;
constexpr uint32_t kNoToken = 1008;
constexpr uint32_t kFirstProcessId = 10000;
}  // namespace

WtsInfoEx FakeSessions::UserSession(uint32_t id, std::u16string user, std::u16string domain, std::u16string station,
                                    int32_t state, int32_t flags) {
    WtsInfoEx info;
    info.SessionId = id;
    info.SessionState = state;
    info.SessionFlags = flags;
    info.WinStationName = std::move(station);
    info.UserName = std::move(user);
    info.DomainName = std::move(domain);
    return info;
}

void FakeSessions::Set(const WtsInfoEx& info) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions[info.SessionId] = info;
}

void FakeSessions::Erase(uint32_t sessionId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(sessionId);
}

std::vector<uint32_t> FakeSessions::Disconnected() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_disconnected;
}

std::vector<uint32_t> FakeSessions::LoggedOff() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loggedOff;
}

size_t FakeSessions::QueryCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queries;
}

uint32_t FakeSessions::EnumerateSessions(std::vector<WtsSessionEntry>& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (enumerateError) return enumerateError;
    out.clear();
    for (const auto& [id, info] : m_sessions) out.push_back({id, info.WinStationName, info.SessionState});
    return 0;
}

uint32_t FakeSessions::QuerySessionInfoEx(uint32_t sessionId, WtsInfoEx& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_queries;
    if (queryError) return queryError;
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end()) return kWinStationNotFound;
    out = it->second;
    if (now != 0) out.CurrentTime = now;
    return 0;
}

uint32_t FakeSessions::QuerySessionInfo(uint32_t sessionId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (queryError) return queryError;
    return m_sessions.count(sessionId) ? 0 : kWinStationNotFound;
}

uint32_t FakeSessions::QueryUserName(uint32_t sessionId, std::u16string& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end()) return kWinStationNotFound;
    out = it->second.UserName;
    return 0;
}

uint32_t FakeSessions::QueryDomainName(uint32_t sessionId, std::u16string& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end()) return kWinStationNotFound;
    out = it->second.DomainName;
    return 0;
}

uint32_t FakeSessions::DisconnectSession(uint32_t sessionId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (disconnectError) return disconnectError;
    m_disconnected.push_back(sessionId);
    return 0;
}

uint32_t FakeSessions::LogoffSession(uint32_t sessionId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (logoffError) return logoffError;
    m_loggedOff.push_back(sessionId);
    return 0;
}

uint32_t FakeSessions::FindUserProcess(uint32_t sessionId, std::u16string_view user, std::u16string_view domain,
                                       uint32_t& processId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(sessionId);
    if (it == m_sessions.end() || !EqualsNoCase(it->second.UserName, user) ||
        !EqualsNoCase(it->second.DomainName, domain)) {
        return kProcNotFound;
    }
    processId = kFirstProcessId + sessionId;
    return 0;
}

uint32_t FakeSessions::TestUserToken(uint32_t sessionId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sessions.find(sessionId);
    return it != m_sessions.end() && !it->second.UserName.empty() ? 0 : kNoToken;
}

uint32_t FakeSessions::RunIdleProgram(uint32_t, int32_t* exitCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++idleProbes;
    if (idleProgramError) return idleProgramError;
    if (exitCode) *exitCode = idleMilliseconds;
    return 0;
}

uint32_t FakeSessions::EnumerateDomainTrusts(std::vector<DomainTrust>& out) {
    if (onTrustEnumeration) onTrustEnumeration();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (trustError) return trustError;
    out = trusts;
    return 0;
}

void FakeSessions::GetOsVersion(uint32_t& major, uint32_t& minor) {
    std::lock_guard<std::mutex> lock(m_mutex);
    major = osMajor;
    minor = osMinor;
}

uint32_t FakeSessions::InitiateShutdown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (shutdownError) return shutdownError;
    ++shutdowns;
    return 0;
}

}  // namespace corvane::test
