#include "records_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "audit/audit_reader.h"
#include "platform/text.h"

namespace corvane::test {

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

bool MakeDirs(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

std::vector<Row> ReadAuditTable(const std::string& path, const AuditPassphrase& passphrase) {
    std::vector<std::string> names;
    std::vector<Row> rows;
    const AuditReadResult result = ReadAuditRows(
        Utf8ToUtf16(path), passphrase, 0, [&](const std::vector<std::string>& n) { names = n; },
        [&](const AuditRowValues& values) {
            Row row;
            for (size_t i = 0; i < names.size(); ++i) row[names[i]] = values[i];
            rows.push_back(std::move(row));
        });
    EXPECT_TRUE(result.bOk) << result.strError;
    return rows;
}

RawDb::RawDb(const std::string& path, const AuditPassphrase* passphrase) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr), SQLITE_OK);
    if (passphrase) {
        EXPECT_EQ(sqlite3_key_v2(m_db, "main", passphrase->data(), static_cast<int>(passphrase->size())), SQLITE_OK);
    }
}

RawDb::~RawDb() { sqlite3_close_v2(m_db); }

int RawDb::Exec(const std::string& sql) { return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr); }

std::string RawDb::Scalar(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        value = text ? text : "";
    } else {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(m_db);
    }
    sqlite3_finalize(stmt);
    return value;
}

}  // namespace corvane::test
