// The audit file read from other processes: the control tool's audit verb (the library opened
// with the key in a separate process) and a second, independently configured build of the cipher.
#include "audit_fixture.h"
#include "process_support.h"
#include "records_test_support.h"

namespace corvane::test {
namespace {

class AuditProcessTest : public AuditFixture {
protected:
    void WriteRows() {
        auto db = MakeDb();
        CAuditLog log(*db, platform.clock, config);
        ASSERT_TRUE(log.InsertSessionEvent({u"CONTOSO", u"O'Brien"}, 5, std::nullopt, u"Console", 1));
        ASSERT_TRUE(log.InsertPhoneSessionControl({u"CONTOSO", u"anna"}, 1, u"phone-7", u"Anna's, \"work\" phone",
                                                  0x80090005, u"Bad Data.\r\n"));
        ASSERT_TRUE(log.InsertAwayAction({u"PC1", u"bob"}, {2, u"phone-8", u"Tab\there"}, -70, 10));
    }

#ifdef CORVANE_CTL_PATH
    ProcessResult Ctl(const std::string& args) {
        return RunProcess("CORVANE_ROOT=" + ShellQuote(platform.Root()) + " " + ShellQuote(CORVANE_CTL_PATH) +
                          " audit " + args);
    }
#endif
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    return lines;
}

constexpr const char* kHeaderTabs =
    "id\tlogon_server\tlocaluser\tuser_name\tevent_type\tevent_time\tdesktop_type\tdev_type\tdev_guid\tdev_name\t"
    "result\tresult_sub\terr_msg\tlogon_option\tlogon_param\tupload_flag\tupload_time";

TEST_F(AuditProcessTest, PlainSqliteCannotReadTheFile) {
    if (!FileExists("/usr/bin/sqlite3")) GTEST_SKIP() << "Debian's sqlite3 command is not installed";
    auto db = MakeDb();
    ASSERT_TRUE(InsertLock(*db));
    const ProcessResult r = RunProcess("/usr/bin/sqlite3 " + ShellQuote(DbPath()) + " 'SELECT count(*) FROM vsc_log;'");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.errors.find("file is not a database"), std::string::npos) << r.errors;
}

#ifdef CORVANE_CTL_PATH
// --raw gives the table's own columns, exactly as scripts have read them.
TEST_F(AuditProcessTest, CtlAuditRawPrintsEveryRowTabSeparated) {
    WriteRows();
    const ProcessResult r = Ctl("--raw");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    const auto lines = Lines(r.output);
    ASSERT_EQ(lines.size(), 4u) << r.output;
    EXPECT_EQ(lines[0], kHeaderTabs);
    EXPECT_EQ(lines[1], "1\tCONTOSO\t0\tO'Brien\t5\t2026-01-01 00:00:00\t1\t\t\t\t0\t\t\t\t\t0\t");
    EXPECT_EQ(lines[2],
              "2\tCONTOSO\t0\tanna\t111\t2026-01-01 00:00:00\t\t2\tphone-7\tAnna's, \"work\" phone\t-2146893819\t0\t"
              "Bad Data.\\r\\n\t0\t0\t0\t");
    EXPECT_EQ(lines[3], "3\tPC1\t1\tbob\t123\t2026-01-01 00:00:00\t\t2\tphone-8\tTab\\there\t0\t0\t\t-70\t10\t0\t");
}

// Without --raw each row names its event type beside the number.
TEST_F(AuditProcessTest, CtlAuditNamesEventTypesBesideTheirNumbers) {
    WriteRows();
    const ProcessResult r = Ctl("");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    const auto lines = Lines(r.output);
    ASSERT_EQ(lines.size(), 4u) << r.output;
    EXPECT_EQ(lines[0].rfind("id\tlogon_server\tlocaluser\tuser_name\tevent_type\tevent_name\tevent_time\t", 0), 0u)
        << lines[0];
    EXPECT_EQ(lines[1].rfind("1\tCONTOSO\t0\tO'Brien\t5\tEVENT_TYPE_SESSION_LOGON\t2026-01-01 00:00:00\t", 0), 0u)
        << lines[1];
    EXPECT_EQ(lines[3].rfind("3\tPC1\t1\tbob\t123\tEVENT_TYPE_AWAY_LOCK\t", 0), 0u) << lines[3];
}

TEST_F(AuditProcessTest, CtlAuditRawLastAndCsv) {
    WriteRows();
    const ProcessResult r = Ctl("--raw --last 2 --csv");
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output,
              "id,logon_server,localuser,user_name,event_type,event_time,desktop_type,dev_type,dev_guid,dev_name,"
              "result,result_sub,err_msg,logon_option,logon_param,upload_flag,upload_time\n"
              "2,CONTOSO,0,anna,111,2026-01-01 00:00:00,,2,phone-7,\"Anna's, \"\"work\"\" phone\",-2146893819,0,"
              "\"Bad Data.\r\n\",0,0,0,\n"
              "3,PC1,1,bob,123,2026-01-01 00:00:00,,2,phone-8,Tab\there,0,0,,-70,10,0,\n");
}

TEST_F(AuditProcessTest, CtlAuditFailsWithOneLineOnFilesItCannotRead) {
    const struct {
        const char* label;
        const char* args;
        bool writeOtherKey;
    } cases[] = {
        {"no database yet", "", false},
        {"database keyed with another key", "", true},
        {"bad --last", "--last 0", false},
        {"unknown argument", "--tsv", false},
    };
    for (const auto& c : cases) {
        std::string before;
        if (c.writeOtherKey) {
            AuditDbSettings settings;
            settings.passphrase[31] ^= 0x80;
            auto db = MakeDb(settings);
            ASSERT_TRUE(InsertLock(*db));
            before = ReadFileBytes(DbPath());
        }
        const ProcessResult r = Ctl(c.args);
        EXPECT_NE(r.exitCode, 0) << c.label;
        EXPECT_EQ(r.output, "") << c.label;
        EXPECT_EQ(Lines(r.errors).size(), 1u) << c.label << ": " << r.errors;
        EXPECT_EQ(r.errors.rfind("corvane-ctl: ", 0), 0u) << c.label;
        if (c.writeOtherKey) {
            EXPECT_EQ(ReadFileBytes(DbPath()), before) << c.label;
        }
    }
}
#endif

TEST_F(AuditProcessTest, SecondBuildOfTheCipherReadsTheFile) {
#ifndef CORVANE_SECOND_READER_PATH
    GTEST_SKIP() << "the second build of the cipher is made in the plain configuration only";
#else
    WriteRows();
    const ProcessResult r =
        RunProcess(ShellQuote(CORVANE_SECOND_READER_PATH) + " " + ShellQuote(DbPath()) + " " + HexOf(kAuditPassphrase));
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    EXPECT_EQ(r.output, "3\n1|O'Brien|\n2|anna|Anna's, \"work\" phone\n3|bob|Tab\there\n");

    AuditPassphrase other = kAuditPassphrase;
    other[5] ^= 0x10;
    const ProcessResult wrong =
        RunProcess(ShellQuote(CORVANE_SECOND_READER_PATH) + " " + ShellQuote(DbPath()) + " " + HexOf(other));
    EXPECT_NE(wrong.exitCode, 0);
#endif
}

}  // namespace
}  // namespace corvane::test
