// The action lines the session actions write to the event log.
#include <gtest/gtest.h>

#include "session/session_records.h"

namespace corvane::test {
namespace {

TEST(SessionRecordsTest, OfflineAndAwayLinesNameTheComputerTheUserAndTheAction) {
    CUserLog record;
    record.m_strUser = u"anna";
    record.m_strDomain = u"CONTOSO";
    struct Case {
        const char* label;
        std::u16string line;
        std::u16string expected;
    };
    const Case cases[] = {
        {"offline lock", CSessionRecords::FormatOfflineLine(u"PC1", record, LogonOption::LockWhenOffline),
         u"Zentik:PC1|CONTOSO\\anna|Offline Locked"},
        {"offline logoff", CSessionRecords::FormatOfflineLine(u"PC1", record, LogonOption::LogoffWhenOffline),
         u"Zentik:PC1|CONTOSO\\anna|Offline Logoff"},
        {"away lock", CSessionRecords::FormatAwayLine(u"PC1", record), u"Zentik:PC1|CONTOSO\\anna|Away Loocked"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.line, c.expected);
    }
}

}  // namespace
}  // namespace corvane::test
