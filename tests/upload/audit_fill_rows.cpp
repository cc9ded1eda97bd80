// Writes audit rows into the database under $CORVANE_ROOT as the service's audit log does, for
// the collector scenes: audit_fill_rows COUNT [ROWS-PER-TRANSACTION [PAUSE-MS]].
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "config/configuration.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    using namespace corvane;
    if (argc < 2) {
        std::fprintf(stderr, "usage: audit_fill_rows COUNT [ROWS-PER-TRANSACTION [PAUSE-MS]]\n");
        return 2;
    }
    const long count = std::atol(argv[1]);
    const long batch = argc > 2 ? std::atol(argv[2]) : 100;
    const long pauseMs = argc > 3 ? std::atol(argv[3]) : 0;
    auto native = CreateNativePlatform();
    Platform& platform = native->Get();
    Configuration config;
    config.g_strComputerName = u"PC1";
    CAuditDatabase db(platform);
    CAuditLog log(db, *platform.clock, config);
    for (long done = 0; done < count;) {
        if (!db.ExecAuditUtf8("BEGIN IMMEDIATE;")) return 1;
        for (long i = 0; i < batch && done < count; ++i, ++done) {
            // Names with the characters the structured data must escape.
            if (!log.InsertSessionEvent({u"CONTOSO", u"anna \"the\" [admin]\\"}, 7, std::nullopt, u"Console", 1)) {
                return 1;
            }
        }
        if (!db.ExecAuditUtf8("COMMIT;")) return 1;
        if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return 0;
}
