// The shipper's side of the audit database: its own connection to the file, so that shipping
// never waits on the connection the service's inserts use. It reads the rows still to send in
// id order and marks the ones the collector acknowledged, each in a short transaction. It never
// deletes a row.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audit/audit_database.h"
#include "platform/platform.h"

struct sqlite3;

namespace corvane {

struct AuditOutboxRow {
    int64_t nId = 0;
    std::vector<std::optional<std::string>> values;  // in the order of the column names
};

// What the shipper needs of the database; tests give it one in memory.
class IAuditOutbox {
public:
    virtual ~IAuditOutbox() = default;
    // True when the database can be read (opened now if needed).
    virtual bool Open(std::string& error) = 0;
    virtual const std::vector<std::string>& Columns() const = 0;
    // The database's own id (hex).
    virtual std::string DbId() const = 0;
    // Up to `limit` rows still to send with an id above `afterId`, in id order.
    virtual bool ReadPending(int64_t afterId, size_t limit, std::vector<AuditOutboxRow>& rows) = 0;
    // Marks the rows sent (`upload_flag` 1, `upload_time` = `uploadTime`), in one transaction.
    virtual bool MarkUploaded(const std::vector<int64_t>& ids, const std::string& uploadTime) = 0;
    // How many rows wait; -1 when that cannot be read.
    virtual int64_t CountPending() = 0;
};

class CAuditOutbox final : public IAuditOutbox {
public:
    explicit CAuditOutbox(Platform& platform, AuditDbSettings settings = {});
    ~CAuditOutbox() override;
    CAuditOutbox(const CAuditOutbox&) = delete;
    CAuditOutbox& operator=(const CAuditOutbox&) = delete;

    bool Open(std::string& error) override;
    const std::vector<std::string>& Columns() const override { return m_columns; }
    std::string DbId() const override { return m_strDbId; }
    bool ReadPending(int64_t afterId, size_t limit, std::vector<AuditOutboxRow>& rows) override;
    bool MarkUploaded(const std::vector<int64_t>& ids, const std::string& uploadTime) override;
    int64_t CountPending() override;

private:
    void CloseDb();

    Platform& m_platform;
    AuditDbSettings m_settings;
    sqlite3* m_pDb = nullptr;
    std::vector<std::string> m_columns;
    std::string m_strDbId;
};

// How many rows of the audit file at `path` wait for upload, read without changing the file; -1
// with `error` set when it cannot be read.
int64_t CountPendingAuditRows(const std::u16string& path, const AuditPassphrase& passphrase, std::string& error);

}  // namespace corvane
