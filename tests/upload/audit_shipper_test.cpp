#include "upload/audit_shipper.h"
#include "upload/upload_backoff.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "audit/audit_outbox.h"
#include "config/configuration.h"
#include "fake_collector.h"
#include "platform/text.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

class AuditShipperTest : public ::testing::Test {
protected:
    AuditShipperTest() {
        config.g_strComputerName = u"PC1";
        collectorConfig.bEnabled = true;
        collectorConfig.tls.strHost = "collector.test";
        collectorConfig.tls.wPort = 2514;
        collectorConfig.tls.strCaFile = "/ca.pem";
    }
    ~AuditShipperTest() override {
        shipper.Stop();
        platform.threads.JoinAll();
    }

    void InsertRows(int count) {
        CAuditLog log(db, platform.clock, config);
        // One transaction for the lot, so that the test does not wait on a sync per row.
        ASSERT_TRUE(db.ExecAuditUtf8("BEGIN;"));
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(log.InsertSessionEvent({u"CONTOSO", u"anna"}, 7, std::nullopt, u"Console", 1));
        }
        ASSERT_TRUE(db.ExecAuditUtf8("COMMIT;"));
    }
    // Waits (in real time, bounded) until no row waits any more.
    bool WaitAllShipped() {
        CAuditOutbox reader(platform.Get());
        std::string error;
        if (!reader.Open(error)) return false;
        for (int i = 0; i < 2000; ++i) {
            if (reader.CountPending() == 0 && shipper.Status().nLastAckedId > 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    bool WaitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 2000; ++i) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    int64_t CountPendingRows() {
        std::string error;
        return CountPendingAuditRows(Utf8ToUtf16(platform.Root() + "/var/lib/corvane/Corvane/Corvane.dat"),
                                     kAuditPassphrase, error);
    }
    std::vector<std::pair<int, std::string>> UploadColumns() {
        std::vector<std::pair<int, std::string>> out;
        sqlite3* raw = nullptr;
        sqlite3_open_v2((platform.Root() + "/var/lib/corvane/Corvane/Corvane.dat").c_str(), &raw, SQLITE_OPEN_READONLY,
                        nullptr);
        sqlite3_key_v2(raw, "main", kAuditPassphrase.data(), static_cast<int>(kAuditPassphrase.size()));
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(raw, "SELECT upload_flag, upload_time FROM vsc_log ORDER BY id;", -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            out.emplace_back(sqlite3_column_int(stmt, 0), t ? t : "");
        }
        sqlite3_finalize(stmt);
        sqlite3_close(raw);
        return out;
    }

    TestPlatform platform;
    Configuration config;
    CAuditDatabase db {platform.Get()};
    CAuditOutbox outbox {platform.Get()};
    FakeCollector collector {platform.clock};
    DiagnosticLog* diagnostics = platform.Get().diagnostics;
    CAuditShipper shipper {AuditShipperDeps {&platform.clock, &platform.threads, &platform.system, &collector, &outbox,
                                             platform.Get().diagnostics},
                           AuditSyslogIdentity {"PC1", "{11111111-2222-3333-4444-555555555555}", ""}};
    AuditCollectorConfig collectorConfig;
};

TEST_F(AuditShipperTest, EveryRowArrivesOnceInIdOrderAndIsMarkedSent) {
    InsertRows(300);
    shipper.Apply(collectorConfig);
    ASSERT_TRUE(WaitAllShipped());
    std::vector<int64_t> expected(300);
    for (int i = 0; i < 300; ++i) expected[static_cast<size_t>(i)] = i + 1;
    EXPECT_EQ(collector.ReceivedIds(), expected);
    for (const auto& [flag, time] : UploadColumns()) {
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(time, "2026-01-01 00:00:00");
    }
    EXPECT_EQ(collector.LastSettings().strHost, "collector.test");
    const std::string first = collector.Messages().front();
    EXPECT_NE(first.find("<85>1 "), std::string::npos);
    EXPECT_NE(first.find(" PC1 corvane - SESSION_LOCK [corvane@32473 id=\"1\""), std::string::npos);
    EXPECT_NE(first.find("host=\"{11111111-2222-3333-4444-555555555555}\" db=\""), std::string::npos);
}

TEST_F(AuditShipperTest, RowsInsertedWhileConnectedFollow) {
    InsertRows(5);
    shipper.Apply(collectorConfig);
    ASSERT_TRUE(WaitAllShipped());
    InsertRows(5);
    shipper.Wake();
    ASSERT_TRUE(WaitFor([&] { return shipper.Status().nLastAckedId == 10; }));
    EXPECT_EQ(collector.ReceivedIds().size(), 10u);
}

TEST_F(AuditShipperTest, ADropMidWindowResendsOnlyWhatWasNotAcknowledged) {
    InsertRows(500);
    collector.closeAfterMessages = 40;
    shipper.Apply(collectorConfig);
    ASSERT_TRUE(WaitAllShipped());
    const std::vector<int64_t> ids = collector.ReceivedIds();
    const std::set<int64_t> distinct(ids.begin(), ids.end());
    EXPECT_EQ(distinct.size(), 500u);
    EXPECT_EQ(*distinct.begin(), 1);
    EXPECT_EQ(*distinct.rbegin(), 500);
    EXPECT_LE(ids.size() - distinct.size(), kRelpWindow);
    EXPECT_GE(collector.Connections(), 2);
}

TEST_F(AuditShipperTest, GarbageFromTheCollectorEndsTheSessionAndTheShipperReconnects) {
    InsertRows(3);
    collector.garbage = true;
    shipper.Apply(collectorConfig);
    ASSERT_TRUE(WaitAllShipped());
    EXPECT_EQ(collector.Connections(), 2);
}

TEST_F(AuditShipperTest, AnUntrustedCollectorGetsNothingAndTheDiagnosticSaysWhy) {
    InsertRows(3);
    collector.refuseWith = "the collector's certificate is not trusted: unable to get local issuer certificate";
    shipper.Apply(collectorConfig);
    ASSERT_TRUE(WaitFor([&] { return collector.LastSettings().strHost == "collector.test"; }));
    ASSERT_TRUE(WaitFor([&] { return shipper.Status().nBackoffMs > 0; }));
    shipper.Stop();
    EXPECT_TRUE(collector.ReceivedIds().empty());
    const AuditShipperStatus status = shipper.Status();
    EXPECT_FALSE(status.bConnected);
    EXPECT_NE(status.strLastError.find("not trusted"), std::string::npos);
    bool logged = false;
    for (const std::string& line : platform.DiagnosticLines()) logged |= line.find("not trusted") != std::string::npos;
    EXPECT_TRUE(logged);
    EXPECT_EQ(CountPendingRows(), 3);
}

TEST_F(AuditShipperTest, ARefusingCollectorIsTriedAgainAfterOneTwoAndFourSecondsWithJitter) {
    InsertRows(1);
    collector.refuseWith = "cannot connect to collector.test:2514: Connection refused";
    shipper.Apply(collectorConfig);
    ASSERT_TRUE(WaitFor([&] { return collector.AttemptTicks().size() >= 4; }));
    shipper.Stop();
    const std::vector<uint32_t> ticks = collector.AttemptTicks();
    const uint32_t bases[] = {1000, 2000, 4000};
    for (size_t i = 0; i < 3; ++i) {
        const uint32_t waited = ticks[i + 1] - ticks[i];
        EXPECT_GE(waited, bases[i]) << "wait " << i;
        EXPECT_LE(waited, bases[i] + bases[i] / 4) << "wait " << i;
    }
    EXPECT_EQ(CountPendingRows(), 1);
}

TEST_F(AuditShipperTest, NoCollectorConfiguredStartsNothing) {
    AuditCollectorConfig off;
    off.tls.strHost = "collector.test";  // a host alone, not enabled
    shipper.Apply(off);
    EXPECT_EQ(platform.threads.Started(), 0u);
    EXPECT_EQ(FormatAuditShipperStatus(shipper.Status()), "audit shipper: off");
}

TEST(UploadBackoff, DoublesFromOneSecondToSixtyWithJitterOnTop) {
    CUploadBackoff backoff;
    const uint32_t bases[] = {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (uint32_t base : bases) {
        const uint32_t noJitter = backoff.NextDelay(0);
        EXPECT_EQ(noJitter, base);
    }
    backoff.Reset();
    EXPECT_EQ(backoff.NextDelay(250), 1250u);                 // the largest share at 1 s
    EXPECT_EQ(backoff.NextDelay(251), 2000u + 251 % 501);      // within a quarter
    for (int i = 0; i < 6; ++i) backoff.NextDelay(0);
    EXPECT_EQ(backoff.NextDelay(7), 60000u - 7);               // at the top, shorter instead
}

TEST(AuditShipperStatusLine, NamesTheCollectorTheLastRowAndTheBackoff) {
    AuditShipperStatus status;
    status.bEnabled = true;
    status.bConnected = true;
    status.strHost = "logs.example";
    status.wPort = 2514;
    status.nLastAckedId = 42;
    EXPECT_EQ(FormatAuditShipperStatus(status),
              "audit shipper: connected to logs.example:2514, last acknowledged row 42, back-off 0 ms");
    status.bConnected = false;
    status.nBackoffMs = 4000;
    status.strLastError = "cannot connect";
    EXPECT_EQ(FormatAuditShipperStatus(status),
              "audit shipper: not connected to logs.example:2514, last acknowledged row 42, back-off 4000 ms "
              "(cannot connect)");
}

}  // namespace
}  // namespace corvane::test
