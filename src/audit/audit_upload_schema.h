// What the upload of audit rows adds to the database: an index on `upload_flag`, so that the
// rows still to send are found without reading the whole table, and the table `vsc_db_id` with
// one random id of this database file, made when the file is made (or first opened by a build
// that ships rows), so that a database made afresh never repeats the keys of an earlier one.
#pragma once

#include <string>

#include "platform/system.h"

struct sqlite3;

namespace corvane {

inline constexpr size_t kAuditDbIdBytes = 16;

// Creates what is missing, in one transaction. True when both exist afterwards.
bool EnsureAuditUploadSchema(sqlite3* db, ISystem& system);
// The database's id as 32 lower-case hex digits; empty when it cannot be read.
std::string ReadAuditDbId(sqlite3* db);

}  // namespace corvane
