#include "crypto/handle_table.h"

#include <new>

namespace corvane {

bool CHandleTable::Add(const void* record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        m_live.insert(record);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CHandleTable::Remove(const void* record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_live.erase(record);
}

bool CHandleTable::Contains(const void* record) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live.count(record) != 0;
}

CHandleTable& CipherHandleTable() {
    static CHandleTable* table = new CHandleTable;  // kept until exit: holders may release late
    return *table;
}

CHandleTable& DigestHandleTable() {
    static CHandleTable* table = new CHandleTable;  // kept until exit: holders may release late
    return *table;
}

CHandleTable& RsaHandleTable() {
    static CHandleTable* table = new CHandleTable;  // kept until exit: holders may release late
    return *table;
}

}  // namespace corvane
