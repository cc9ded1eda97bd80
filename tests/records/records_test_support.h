// Helpers shared by the records tests: reading files, reading the audit table back with the key,
// a keyed raw connection, and running a program in a separate process.
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

struct ProcessResult {
    int exitCode = -1;
    std::string output;  // stdout
    std::string errors;  // stderr
};
// Runs a shell command line in a separate process.
ProcessResult RunProcess(const std::string& commandLine);
std::string ShellQuote(const std::string& text);
std::string HexOf(const AuditPassphrase& bytes);

}  // namespace corvane::test
