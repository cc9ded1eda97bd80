// Helpers shared by the records tests: files, reading the audit table back with the key, and a
// keyed raw connection.
#pragma once

#include <sqlite3.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audit/audit_passphrase.h"

namespace corvane::test {

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Creates a directory and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& path);

// One row of the audit table: column name → value (nothing for NULL).
using Row = std::map<std::string, std::optional<std::string>>;
// Every row in id order, read with the passphrase; fails the test when the file cannot be read.
std::vector<Row> ReadAuditTable(const std::string& path, const AuditPassphrase& passphrase = kAuditPassphrase);

// A connection of its own on a database file, keyed (or not, for a plain SQLite file).
class RawDb {
public:
    RawDb(const std::string& path, const AuditPassphrase* passphrase);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;
    // Runs SQL; returns the SQLite result code.
    int Exec(const std::string& sql);
    // The first column of the first row of a query, as text.
    std::string Scalar(const std::string& sql);
    sqlite3* Handle() { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

}  // namespace corvane::test
