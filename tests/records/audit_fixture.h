// A clean machine for audit tests: a fresh state root, computer name PC1, and the path where the
// audit database lives under it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "config/configuration.h"
#include "support/test_platform.h"

namespace corvane::test {

class AuditFixture : public ::testing::Test {
protected:
    AuditFixture() { config.g_strComputerName = u"PC1"; }

    std::string DbDir() const { return platform.Root() + "/var/lib/corvane/Corvane"; }
    std::string DbPath() const { return DbDir() + "/Corvane.dat"; }

    // A database object and its inserts, as the service owns them.
    std::unique_ptr<CAuditDatabase> MakeDb(AuditDbSettings settings = {}) {
        return std::make_unique<CAuditDatabase>(platform.Get(), std::move(settings));
    }
    bool InsertLock(CAuditDatabase& db, std::u16string_view user = u"anna") {
        CAuditLog log(db, platform.clock, config);
        return log.InsertSessionEvent({u"CONTOSO", user}, 7, std::nullopt, u"Console", 1);
    }

    TestPlatform platform;
    Configuration config;
};

}  // namespace corvane::test
