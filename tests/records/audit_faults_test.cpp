// A full disk, a read-only file and a busy database: the row is lost, nothing crashes, and the
// file keeps every earlier row intact.
#include <atomic>

#include "audit_fixture.h"
#include "faulty_vfs.h"
#include "records_test_support.h"

namespace corvane::test {
namespace {

class AuditFaultTest : public AuditFixture {
protected:
    ~AuditFaultTest() override { SetVfsFault(VfsFault::None); }

    AuditDbSettings FaultySettings() {
        SetVfsFault(VfsFault::None);
        AuditDbSettings settings;
        settings.vfs = kFaultyVfs;
        return settings;
    }

    void ExpectIntactWithUsers(const std::vector<std::string>& users) {
        {
            RawDb raw(DbPath(), &kAuditPassphrase);
            EXPECT_EQ(raw.Scalar("PRAGMA integrity_check;"), "ok");
        }
        const auto rows = ReadAuditTable(DbPath());
        std::vector<std::string> have;
        for (const auto& row : rows) have.push_back(*row.at("user_name"));
        EXPECT_EQ(have, users);
    }
};

struct DiskFullCase {
    const char* label;
    VfsFault fault;
};
void PrintTo(const DiskFullCase& c, std::ostream* os) { *os << c.label; }

class DiskFullTest : public AuditFaultTest, public ::testing::WithParamInterface<DiskFullCase> {};

TEST_P(DiskFullTest, LosesTheRowAndKeepsTheFileIntact) {
    auto db = MakeDb(FaultySettings());
    ASSERT_TRUE(InsertLock(*db, u"first"));
    ASSERT_TRUE(InsertLock(*db, u"second"));

    SetVfsFault(GetParam().fault);
    EXPECT_FALSE(InsertLock(*db, u"lost"));
    EXPECT_FALSE(InsertLock(*db, u"lost too"));
    SetVfsFault(VfsFault::None);

    EXPECT_TRUE(InsertLock(*db, u"after")) << "the same connection writes again once there is space";
    db.reset();
    ExpectIntactWithUsers({"first", "second", "after"});
}

INSTANTIATE_TEST_SUITE_P(Faults, DiskFullTest,
                         ::testing::Values(DiskFullCase {"JournalAndDatabase", VfsFault::DiskFull},
                                           DiskFullCase {"DatabaseAfterJournal", VfsFault::DatabaseWritesFail}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(AuditFaultTest, FullDiskOnACleanMachineCreatesNoHalfSchema) {
    auto db = MakeDb(FaultySettings());
    SetVfsFault(VfsFault::DiskFull);
    EXPECT_FALSE(InsertLock(*db, u"lost"));
    EXPECT_FALSE(db->IsOpen());
    SetVfsFault(VfsFault::None);

    ASSERT_TRUE(InsertLock(*db, u"first"));
    db.reset();
    const auto rows = ReadAuditTable(DbPath());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("id"), "1");
    RawDb raw(DbPath(), &kAuditPassphrase);
    EXPECT_EQ(raw.Scalar("SELECT count(*) FROM sqlite_master WHERE type='index' AND name LIKE 'index_vsc_log_%';"), "3");
}

TEST_F(AuditFaultTest, ReadOnlyFileLosesTheRowUntouchedAndIsRetriedLater) {
    {
        auto db = MakeDb(FaultySettings());
        ASSERT_TRUE(InsertLock(*db, u"first"));
    }
    const std::string before = ReadFileBytes(DbPath());

    auto db = MakeDb(FaultySettings());
    SetVfsFault(VfsFault::ReadOnly);
    EXPECT_FALSE(InsertLock(*db, u"lost"));
    EXPECT_FALSE(db->IsOpen()) << "a read-only connection is not kept";
    EXPECT_EQ(ReadFileBytes(DbPath()), before);

    SetVfsFault(VfsFault::None);
    EXPECT_TRUE(InsertLock(*db, u"after"));
    db.reset();
    ExpectIntactWithUsers({"first", "after"});
}

TEST_F(AuditFaultTest, BusyDatabaseIsWaitedForThenGivenUp) {
    auto db = MakeDb();
    ASSERT_TRUE(InsertLock(*db, u"first"));
    RawDb other(DbPath(), &kAuditPassphrase);
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE;"), SQLITE_OK);

    const uint64_t sleepsBefore = platform.clock.SleepCount();
    EXPECT_FALSE(InsertLock(*db, u"lost"));
    // 100 waits of 10 ms inside SQLite for each of the 1 + 100 attempts, and 100 waits between them.
    const uint64_t sleeps = platform.clock.SleepCount() - sleepsBefore;
    EXPECT_EQ(sleeps, 101u * 100u + 100u);
    EXPECT_EQ(platform.clock.SleptMilliseconds(), sleeps * 10u);

    ASSERT_EQ(other.Exec("COMMIT;"), SQLITE_OK);
    EXPECT_TRUE(InsertLock(*db, u"after"));
}

TEST_F(AuditFaultTest, BusyDatabaseThatFreesUpInTimeTakesTheRow) {
    auto db = MakeDb();
    ASSERT_TRUE(InsertLock(*db, u"first"));
    RawDb other(DbPath(), &kAuditPassphrase);
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE;"), SQLITE_OK);
    std::atomic<int> sleeps {0};
    platform.clock.onSleep = [&](uint32_t) {
        if (++sleeps == 150) other.Exec("COMMIT;");
    };

    EXPECT_TRUE(InsertLock(*db, u"second"));
    platform.clock.onSleep = nullptr;
    EXPECT_GE(sleeps.load(), 150);
    EXPECT_EQ(ReadAuditTable(DbPath()).size(), 2u);
}

}  // namespace
}  // namespace corvane::test
