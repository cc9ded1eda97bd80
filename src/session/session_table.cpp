#include "session/session_table.h"

#include "platform/text.h"

namespace corvane {

CSessionTable::CSessionTable(Configuration& config) : m_config(config) {}

void CSessionTable::Append(std::unique_ptr<CUserLog> record) {
    MutexGuard lock(Mutex());
    m_arrRecords.push_back(std::move(record));
}

void CSessionTable::Remove(const CUserLog* record) {
    MutexGuard lock(Mutex());
    for (auto it = m_arrRecords.begin(); it != m_arrRecords.end(); ++it) {
        if (it->get() == record) {
            m_arrRecords.erase(it);
            return;
        }
    }
}

void CSessionTable::Clear() {
    MutexGuard lock(Mutex());
    m_arrRecords.clear();
}

size_t CSessionTable::Count() {
    MutexGuard lock(Mutex());
    return m_arrRecords.size();
}

bool CSessionTable::CopyFirst(const std::function<bool(const CUserLog&)>& match, CUserLog& out) {
    MutexGuard lock(Mutex());
    for (const auto& record : m_arrRecords) {
        if (match(*record)) {
            out = *record;
            return true;
        }
    }
    return false;
}

CUserLog* CSessionTable::FindBySession(int32_t sessionId) {
    for (const auto& record : m_arrRecords) {
        if (record->m_nSession == sessionId) return record.get();
    }
    return nullptr;
}

CUserLog* CSessionTable::FindLastByUser(std::u16string_view user, std::u16string_view domain) {
    for (auto it = m_arrRecords.rbegin(); it != m_arrRecords.rend(); ++it) {
        if (EqualsNoCase((*it)->m_strUser, user) && EqualsNoCase((*it)->m_strDomain, domain)) return it->get();
    }
    return nullptr;
}

}  // namespace corvane
