#include "device/cdev_tovrel.h"

#include "platform/text.h"
#include "wire/result_codes.h"

namespace corvane {

CDevTovrel::CDevTovrel(IClock& clock, std::u16string id, std::u16string name, uint32_t kind)
    : m_clock(clock), m_strId(std::move(id)), m_strName(std::move(name)), m_nKind(kind) {}

CDevTovrel::~CDevTovrel() = default;

void CDevTovrel::AddLogonOption(std::u16string_view user, std::u16string_view domain, int32_t option, int32_t delay) {
    std::lock_guard<std::mutex> lock(m_optionMutex);
    corvane::AddLogonOption(m_arrOptions, m_clock, user, domain, option, delay);
}

void CDevTovrel::RemoveLogonOption(std::u16string_view user, std::u16string_view domain) {
    std::lock_guard<std::mutex> lock(m_optionMutex);
    corvane::RemoveLogonOption(m_arrOptions, user, domain);
}

bool CDevTovrel::SetLogonOptionTime(std::u16string_view user, std::u16string_view domain, const FileTime* time) {
    if (time == nullptr) return false;
    std::lock_guard<std::mutex> lock(m_optionMutex);
    CLogonOpt* found = FindLogonOption(m_arrOptions, user, domain);
    if (found == nullptr) return false;
    found->m_ftTime = *time;
    return true;
}

uint32_t CDevTovrel::ReportSessions() { return Result::NteNotSupported; }
bool CDevTovrel::IsConnected() { return false; }
uint32_t CDevTovrel::Close() { return Result::NteNotSupported; }
void CDevTovrel::RequestStop() { m_bStopRequested = 1; }
bool CDevTovrel::IsStopping() { return m_bStopRequested.load() != 0; }

uint32_t CDevTovrel::Transmit(const uint8_t*, size_t, uint8_t**, size_t*, ReplyArena&) { return Result::NteNotSupported; }

std::vector<CLogonOpt> CDevTovrel::CopyLogonOptions() {
    std::lock_guard<std::mutex> lock(m_optionMutex);
    std::vector<CLogonOpt> copy;
    copy.reserve(m_arrOptions.size());
    for (const auto& option : m_arrOptions) copy.push_back(*option);
    return copy;
}

void CDevTovrel::RunOptionTests(const std::function<bool(CLogonOpt& copy)>& test) {
    std::vector<std::pair<const CLogonOpt*, CLogonOpt>> snapshot;
    {
        std::lock_guard<std::mutex> lock(m_optionMutex);
        for (auto it = m_arrOptions.rbegin(); it != m_arrOptions.rend(); ++it) snapshot.emplace_back(it->get(), **it);
    }
    for (auto& [original, before] : snapshot) {
        CLogonOpt copy = before;
        const bool drop = test(copy);
        std::lock_guard<std::mutex> lock(m_optionMutex);
        for (auto it = m_arrOptions.begin(); it != m_arrOptions.end(); ++it) {
            CLogonOpt& live = **it;
            if (&live != original) continue;
            const bool refreshed = live.m_ftTime != copy.m_ftTime || live.m_nOption != copy.m_nOption ||
                                   live.m_nDelay != copy.m_nDelay || !EqualsNoCase(live.m_strUser, copy.m_strUser) ||
                                   !EqualsNoCase(live.m_strDomain, copy.m_strDomain);
            if (refreshed) break;
            if (drop) {
                m_arrOptions.erase(it);
                break;
            }
            live.m_bHandled = copy.m_bHandled;
            live.m_dwActivityTick = copy.m_dwActivityTick;
            // The signal marks also move with the samples meanwhile; only what the test itself
            // changed is written back, so a sample taken during the test is not undone.
            if (copy.m_dwAwaySince != before.m_dwAwaySince) live.m_dwAwaySince = copy.m_dwAwaySince;
            break;
        }
    }
}

}  // namespace corvane
