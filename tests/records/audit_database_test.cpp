// Opening the encrypted audit database: creation on a clean machine, encryption, files that must
// not be touched, the localuser migration, quoting, and concurrent inserts.
#include <atomic>
#include <filesystem>
#include <latch>
#include <map>
#include <set>
#include <thread>

#include "audit/audit_schema.h"
#include "platform/text.h"
#include "audit_fixture.h"
#include "records_test_support.h"

namespace corvane::test {
namespace {

class AuditDatabaseTest : public AuditFixture {};

TEST_F(AuditDatabaseTest, FirstInsertOnCleanMachineCreatesEncryptedOwnerOnlyFileWithSchema) {
    auto db = MakeDb();
    EXPECT_FALSE(db->IsOpen());
    ASSERT_TRUE(InsertLock(*db));
    EXPECT_TRUE(db->IsOpen());

#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(DbPath()).permissions(), std::filesystem::perms::owner_read |
                                                                   std::filesystem::perms::owner_write);
#endif
    const std::string bytes = ReadFileBytes(DbPath());
    EXPECT_NE(bytes.substr(0, 16), std::string("SQLite format 3\0", 16)) << "the header is enciphered";

    const auto rows = ReadAuditTable(DbPath());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("id"), "1");
    RawDb raw(DbPath(), &kAuditPassphrase);
    EXPECT_EQ(raw.Scalar("SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_master WHERE type='index' "
                         "AND name LIKE 'index_%' ORDER BY name);"),
              "index_vsc_log_dev,index_vsc_log_op,index_vsc_log_upload");
    EXPECT_EQ(raw.Scalar("SELECT count(*) FROM pragma_table_info('vsc_log');"), "17");
}

TEST_F(AuditDatabaseTest, SchemaScriptIsEmbedded) {
    const std::string_view script = AuditSchemaScript();
    EXPECT_EQ(script.substr(0, 30), "DROP TABLE IF EXISTS vsc_log;\n");
    EXPECT_NE(script.find("CREATE INDEX index_vsc_log_dev ON vsc_log (dev_guid);"), std::string_view::npos);
}

// Files the service cannot read with its passphrase: it keeps no records and never writes them.
struct UnreadableCase {
    const char* label;
    void (*make)(const std::string& path);
};
void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.label; }

const UnreadableCase kUnreadable[] = {
    {"another key",
     [](const std::string& path) {
         AuditPassphrase other = kAuditPassphrase;
         other[0] ^= 0x01;
         RawDb raw(path, &other);
         ASSERT_EQ(raw.Exec("CREATE TABLE vsc_log (id INTEGER PRIMARY KEY, user_name TEXT);"
                            "INSERT INTO vsc_log (user_name) VALUES ('kept');"),
                   SQLITE_OK);
     }},
    {"plain SQLite database",
     [](const std::string& path) {
         RawDb raw(path, nullptr);
         ASSERT_EQ(raw.Exec("CREATE TABLE vsc_log (id INTEGER PRIMARY KEY, user_name TEXT);"), SQLITE_OK);
     }},
    {"not a database", [](const std::string& path) { WriteFileBytes(path, std::string(5000, 'x') + "\n"); }},
};

class UnreadableFileTest : public AuditFixture, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableFileTest, IsLeftUntouchedAndNoRowIsWritten) {
    ASSERT_TRUE(MakeDirs(DbDir()));
    GetParam().make(DbPath());
    const std::string before = ReadFileBytes(DbPath());
    ASSERT_FALSE(before.empty());

    auto db = MakeDb();
    EXPECT_FALSE(InsertLock(*db));
    EXPECT_FALSE(db->IsOpen());
    EXPECT_FALSE(InsertLock(*db)) << "every insert tries the open again";
    db.reset();

    EXPECT_EQ(ReadFileBytes(DbPath()), before);
    EXPECT_FALSE(FileExists(DbPath() + "-journal"));
}

INSTANTIATE_TEST_SUITE_P(Files, UnreadableFileTest, ::testing::ValuesIn(kUnreadable),
                         [](const auto& info) {
                             std::string name = info.param.label;
                             for (auto& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST_F(AuditDatabaseTest, TableWithoutLocalUserGainsTheColumnAndKeepsItsRows) {
    ASSERT_TRUE(MakeDirs(DbDir()));
    {
        RawDb raw(DbPath(), &kAuditPassphrase);
        ASSERT_EQ(raw.Exec("CREATE TABLE vsc_log (id INTEGER PRIMARY KEY AUTOINCREMENT, logon_server VARCHAR(255), "
                           "user_name VARCHAR(255) NOT NULL, event_type INTEGER NOT NULL, event_time DATETIME NOT "
                           "NULL, desktop_type INTEGER, dev_type INTEGER, dev_guid VARCHAR(255), dev_name "
                           "VARCHAR(255), result INTEGER NOT NULL, result_sub INTEGER, err_msg VARCHAR(1023), "
                           "logon_option INTEGER, logon_param INTEGER, upload_flag INTEGER, upload_time DATETIME);"
                           "INSERT INTO vsc_log (logon_server, user_name, event_type, event_time, result) VALUES "
                           "('OLD', 'earlier', 5, '2020-01-01 00:00:00', 0);"),
                  SQLITE_OK);
    }
    auto db = MakeDb();
    ASSERT_TRUE(InsertLock(*db));

    const auto rows = ReadAuditTable(DbPath());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("user_name"), "earlier");
    EXPECT_EQ(rows[0].at("localuser"), std::nullopt);
    EXPECT_EQ(rows[1].at("user_name"), "anna");
    EXPECT_EQ(rows[1].at("localuser"), "0");
}

TEST_F(AuditDatabaseTest, ApostrophesInUserAndDeviceNamesRoundTrip) {
    auto db = MakeDb();
    CAuditLog log(*db, platform.clock, config);
    ASSERT_TRUE(log.InsertSessionEvent({u"D'OM", u"O'Brien"}, 8, std::nullopt, u"Console", 1));
    ASSERT_TRUE(log.InsertOfflineAction({u"D'OM", u"O'Brien"}, {2, u"id'1", u"Anna's phone ''"}, 1, 30));

    const auto rows = ReadAuditTable(DbPath());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("logon_server"), "D'OM");
    EXPECT_EQ(rows[0].at("user_name"), "O'Brien");
    EXPECT_EQ(rows[1].at("dev_guid"), "id'1");
    EXPECT_EQ(rows[1].at("dev_name"), "Anna's phone ''");
}

TEST_F(AuditDatabaseTest, ConcurrentInsertsFromEightThreadsOnAFreshDatabaseLoseNoRow) {
    constexpr int kThreads = 8;
    constexpr int kRowsEach = 40;
    auto db = MakeDb();
    std::latch start(kThreads);
    std::atomic<int> failures {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::u16string user = u"user" + Utf8ToUtf16(std::to_string(t));
            start.arrive_and_wait();  // every thread's first insert races for the first open
            for (int i = 0; i < kRowsEach; ++i) {
                if (!InsertLock(*db, user)) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);

    const auto rows = ReadAuditTable(DbPath());
    ASSERT_EQ(rows.size(), static_cast<size_t>(kThreads * kRowsEach));
    std::map<std::string, int> perUser;
    std::set<std::string> ids;
    for (const auto& row : rows) {
        ++perUser[*row.at("user_name")];
        ids.insert(*row.at("id"));
    }
    EXPECT_EQ(ids.size(), rows.size());
    for (const auto& [user, count] : perUser) EXPECT_EQ(count, kRowsEach) << user;
}

}  // namespace
}  // namespace corvane::test
