// Reading the audit trail back, for the control tool: the existing database is opened read-only
// with the service's passphrase, so reading can never change or damage it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audit/audit_passphrase.h"

namespace corvane {

// One row: each column's value as UTF-8 text, or nothing for NULL.
using AuditRowValues = std::vector<std::optional<std::string>>;

struct AuditReadResult {
    bool bOk = false;
    std::string strError;  // one line, when not ok
};

// Reads the rows of the audit table in id order; `last` > 0 keeps only the last that many.
// `onColumns` gets the column names once, then `onRow` each row.
AuditReadResult ReadAuditRows(const std::u16string& path, const AuditPassphrase& passphrase, int64_t last,
                              const std::function<void(const std::vector<std::string>&)>& onColumns,
                              const std::function<void(const AuditRowValues&)>& onRow);

// Why the audit file at `path` cannot be used with `passphrase`, in a few words ("is not a
// database, or is enciphered with another key", "is a directory", ...); empty when it is usable or
// does not exist yet (the service then makes it). The file is opened read-only: it is never
// changed, whatever it holds, since it may belong to another build or tool.
std::string ProbeAuditFile(const std::u16string& path, const AuditPassphrase& passphrase);

}  // namespace corvane
