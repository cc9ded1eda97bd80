#include "session/logon_state.h"

#include "platform/text.h"

namespace corvane {

std::u16string CLogonState::GetConsoleUser() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strConsoleUser;
}

std::u16string CLogonState::GetLogonComponentUser() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strLogonComponentUser;
}

uint16_t CLogonState::GetLogonComponentState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wLogonComponentState;
}

std::u16string CLogonState::GetPublishedUser() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strPublishedUser;
}

uint16_t CLogonState::GetPublishedState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wPublishedState;
}

void CLogonState::GetPublished(std::u16string& user, uint16_t& state) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    user = m_strPublishedUser;
    state = m_wPublishedState;
}

void CLogonState::SetLogonComponent(uint16_t state, std::u16string_view user) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wLogonComponentState = state;
    m_strLogonComponentUser = std::u16string(user);
}

uint16_t CLogonState::StateToPublish() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strConsoleUser.empty() ? m_wLogonComponentState : kPublishedConsoleUser;
}

void CLogonState::UpdateConsoleUser(std::u16string_view identity, bool bActiveOnConsole) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (EqualsNoCase(m_strConsoleUser, identity)) {
        if (!bActiveOnConsole) m_strConsoleUser.clear();
    } else if (bActiveOnConsole) {
        m_strConsoleUser = std::u16string(identity);
        m_wLogonComponentState = 0;
        m_strLogonComponentUser.clear();
    }
}

void CLogonState::ClearConsoleUserIf(std::u16string_view identity) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (EqualsNoCase(m_strConsoleUser, identity)) m_strConsoleUser.clear();
}

void CLogonState::Publish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_strConsoleUser.empty()) {
        m_strPublishedUser = m_strConsoleUser;
        m_wPublishedState = kPublishedConsoleUser;
    } else {
        m_strPublishedUser = m_strLogonComponentUser;
        m_wPublishedState = m_wLogonComponentState;
    }
}

void CLogonState::SetConsoleUser(std::u16string_view identity) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_strConsoleUser = std::u16string(identity);
}

}  // namespace corvane
