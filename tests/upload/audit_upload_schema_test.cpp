#include "audit/audit_upload_schema.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "audit/audit_outbox.h"
#include "config/configuration.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

// The database's id and whether the upload index exists, read through a connection of the test's own.
struct UploadSchema {
    std::string dbId;
    bool hasIndex = false;
};

UploadSchema ReadSchema(TestPlatform& platform, const char* drop = nullptr) {
    UploadSchema out;
    sqlite3* db = nullptr;
    sqlite3_open_v2((platform.Root() + "/var/lib/corvane/Corvane/Corvane.dat").c_str(), &db, SQLITE_OPEN_READWRITE,
                    nullptr);
    sqlite3_key_v2(db, "main", kAuditPassphrase.data(), static_cast<int>(kAuditPassphrase.size()));
    if (drop) sqlite3_exec(db, drop, nullptr, nullptr, nullptr);
    out.dbId = ReadAuditDbId(db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name='index_vsc_log_upload';", -1, &stmt, nullptr);
    out.hasIndex = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return out;
}

void InsertOne(TestPlatform& platform) {
    Configuration config;
    CAuditDatabase db(platform.Get());
    CAuditLog log(db, platform.clock, config);
    ASSERT_TRUE(log.InsertSessionEvent({u"D", u"u"}, 7, std::nullopt, u"Console", 1));
}

TEST(AuditUploadSchema, ANewDatabaseGetsTheIndexAndARandomIdOfItsOwn) {
    TestPlatform first;
    TestPlatform second;
    InsertOne(first);
    InsertOne(second);
    const UploadSchema a = ReadSchema(first);
    const UploadSchema b = ReadSchema(second);
    EXPECT_TRUE(a.hasIndex);
    EXPECT_EQ(a.dbId.size(), 2 * kAuditDbIdBytes);
    EXPECT_EQ(a.dbId.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a.dbId, b.dbId);
}

TEST(AuditUploadSchema, AnOlderDatabaseGainsThemAtTheShippersOpenAndKeepsItsId) {
    TestPlatform platform;
    InsertOne(platform);
    // A file made before rows were shipped: neither the index nor the id table.
    ASSERT_FALSE(ReadSchema(platform, "DROP INDEX index_vsc_log_upload; DROP TABLE vsc_db_id;").hasIndex);
    CAuditOutbox outbox(platform.Get());
    std::string error;
    ASSERT_TRUE(outbox.Open(error)) << error;
    const UploadSchema after = ReadSchema(platform);
    EXPECT_TRUE(after.hasIndex);
    EXPECT_EQ(after.dbId, outbox.DbId());
    CAuditOutbox again(platform.Get());
    ASSERT_TRUE(again.Open(error));
    EXPECT_EQ(again.DbId(), after.dbId);
    EXPECT_EQ(again.CountPending(), 1);
}

}  // namespace
}  // namespace corvane::test
