#include "device/cdev_tovrel.h"

#include "platform/text.h"

namespace corvane {

namespace {
bool IsOptionOf(const CLogonOpt& option, std::u16string_view user, std::u16string_view domain) {
    return EqualsNoCase(option.m_strUser, user) && EqualsNoCase(option.m_strDomain, domain);
}
}  // namespace

CDevTovrel::CDevTovrel(IClock& clock, std::u16string id, std::u16string name, uint32_t kind)
    : m_clock(clock), m_strId(std::move(id)), m_strName(std::move(name)), m_nKind(kind) {}

CDevTovrel::~CDevTovrel() = default;

void CDevTovrel::AddLogonOption(std::u16string_view user, std::u16string_view domain, int32_t option, int32_t delay) {
    const FileTime now = m_clock.GetSystemTimeAsFileTime();
    std::lock_guard<std::mutex> lock(m_optionMutex);
    for (auto& existing : m_arrOptions) {
        if (IsOptionOf(*existing, user, domain)) {
            existing->m_nOption = option;
            existing->m_nDelay = delay;
            existing->m_ftTime = now;
            existing->m_bHandled = 0;
            return;
        }
    }
    auto added = std::make_unique<CLogonOpt>();
    added->m_strUser = std::u16string(user);
    added->m_strDomain = std::u16string(domain);
    added->m_nOption = option;
    added->m_nDelay = delay;
    added->m_ftTime = now;
    added->m_dwLastSample = m_clock.GetTickCount();
    m_arrOptions.push_back(std::move(added));
}

void CDevTovrel::RemoveLogonOption(std::u16string_view user, std::u16string_view domain) {
    std::lock_guard<std::mutex> lock(m_optionMutex);
    for (auto it = m_arrOptions.begin(); it != m_arrOptions.end(); ++it) {
        if (IsOptionOf(**it, user, domain)) {
            m_arrOptions.erase(it);
            return;
        }
    }
}

bool CDevTovrel::SetLogonOptionTime(std::u16string_view user, std::u16string_view domain, const FileTime* time) {
    if (time == nullptr) return false;
    std::lock_guard<std::mutex> lock(m_optionMutex);
    for (auto& option : m_arrOptions) {
        if (IsOptionOf(*option, user, domain)) {
            option->m_ftTime = *time;
            return true;
        }
    }
    return false;
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

}  // namespace corvane
