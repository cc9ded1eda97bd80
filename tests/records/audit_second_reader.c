/* Reads an audit database with a build of the cipher library that shares nothing with the
 * service's: usage: audit_second_reader FILE HEXKEY. Prints the number of rows, then
 * "id|user_name|dev_name" per row; exits non-zero with the error on stderr when it cannot. */
#include <stdio.h>

#include "sqlite3.h"

int main(int argc, char** argv) {
    sqlite3* db = NULL;
    sqlite3_stmt* stmt = NULL;
    char sql[256];
    int rc;
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE HEXKEY\n", argv[0]);
        return 2;
    }
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, NULL) != SQLITE_OK) {
        fprintf(stderr, "open: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    snprintf(sql, sizeof sql, "PRAGMA cipher='aes128cbc'; PRAGMA hexkey='%s';", argv[2]);
    if (sqlite3_exec(db, sql, NULL, NULL, NULL) != SQLITE_OK) {
        fprintf(stderr, "key: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM vsc_log;", -1, &stmt, NULL) != SQLITE_OK ||
        sqlite3_step(stmt) != SQLITE_ROW) {
        fprintf(stderr, "count: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    printf("%d\n", sqlite3_column_int(stmt, 0));
    sqlite3_finalize(stmt);
    if (sqlite3_prepare_v2(db, "SELECT id, user_name, dev_name FROM vsc_log ORDER BY id;", -1, &stmt, NULL) !=
        SQLITE_OK) {
        fprintf(stderr, "select: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const unsigned char* name = sqlite3_column_text(stmt, 2);
        printf("%d|%s|%s\n", sqlite3_column_int(stmt, 0), sqlite3_column_text(stmt, 1), name ? (const char*)name : "");
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rc == SQLITE_DONE ? 0 : 1;
}
