// A SQLite VFS for tests that stands between the page cipher and the POSIX files and fails on
// demand: a full disk (every write, or only writes of the database file itself, so that the
// rollback journal has been written first) or a read-only file. Open a database through it with
// the VFS name kFaultyVfs.
#pragma once

namespace corvane::test {

enum class VfsFault {
    None,
    DiskFull,            // every write of the database and its journal fails with SQLITE_FULL
    DatabaseWritesFail,  // journal writes succeed, writes of the database file fail
    ReadOnly,            // the database file opens read-only, as a file without write permission does
};

// The cipher's shim over the faulty VFS over "unix".
inline constexpr const char* kFaultyVfs = "multipleciphers-corvane-faulty";

// Registers the VFS once per process and sets the fault for every file opened through it.
void SetVfsFault(VfsFault fault);

}  // namespace corvane::test
