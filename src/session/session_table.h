// SessionTable: the records of the logged-on sessions, in insertion order, owned by the table
// and guarded by the named mutex "_MUTEX_CORVANE_SVR_G_Var_UserLog_" (recursive). Records leave
// it on logoff and when the service ends.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "session/cuser_log.h"

namespace corvane {

class CSessionTable {
public:
    // Guards itself with the configuration's m_hUserLogMutex (opened at start).
    explicit CSessionTable(Configuration& config);
    CSessionTable(const CSessionTable&) = delete;
    CSessionTable& operator=(const CSessionTable&) = delete;

    INamedMutex* Mutex() { return m_config.m_hUserLogMutex.get(); }

    // Each takes the mutex itself.
    void Append(std::unique_ptr<CUserLog> record);
    // Takes the record out and deletes it.
    void Remove(const CUserLog* record);
    // Deletes every record (when the service ends).
    void Clear();
    size_t Count();
    // Copies the first record that `match` accepts; false when none does.
    bool CopyFirst(const std::function<bool(const CUserLog&)>& match, CUserLog& out);

    // For callers that hold Mutex(): the records themselves, and lookups.
    const std::vector<std::unique_ptr<CUserLog>>& Records() const { return m_arrRecords; }
    CUserLog* FindBySession(int32_t sessionId);
    // The last record of this user and domain (ignoring case).
    CUserLog* FindLastByUser(std::u16string_view user, std::u16string_view domain);

private:
    Configuration& m_config;
    std::vector<std::unique_ptr<CUserLog>> m_arrRecords;
};

}  // namespace corvane
