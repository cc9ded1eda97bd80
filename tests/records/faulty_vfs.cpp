#include "faulty_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace corvane::test {

namespace {
std::atomic<VfsFault> g_fault {VfsFault::None};
sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_faulty {};
sqlite3_io_methods g_methods {};

struct FaultyFile {
    sqlite3_file base;
    bool mainDb;
    sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

FaultyFile* F(sqlite3_file* f) { return reinterpret_cast<FaultyFile*>(f); }

int Close(sqlite3_file* f) { return F(f)->Real()->pMethods->xClose(F(f)->Real()); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
    return F(f)->Real()->pMethods->xRead(F(f)->Real(), p, n, off);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
    const VfsFault fault = g_fault.load();
    if (fault == VfsFault::DiskFull || (fault == VfsFault::DatabaseWritesFail && F(f)->mainDb)) return SQLITE_FULL;
    return F(f)->Real()->pMethods->xWrite(F(f)->Real(), p, n, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return F(f)->Real()->pMethods->xTruncate(F(f)->Real(), size); }
int Sync(sqlite3_file* f, int flags) { return F(f)->Real()->pMethods->xSync(F(f)->Real(), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return F(f)->Real()->pMethods->xFileSize(F(f)->Real(), size); }
int Lock(sqlite3_file* f, int lock) { return F(f)->Real()->pMethods->xLock(F(f)->Real(), lock); }
int Unlock(sqlite3_file* f, int lock) { return F(f)->Real()->pMethods->xUnlock(F(f)->Real(), lock); }
int CheckReservedLock(sqlite3_file* f, int* out) {
    return F(f)->Real()->pMethods->xCheckReservedLock(F(f)->Real(), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
    return F(f)->Real()->pMethods->xFileControl(F(f)->Real(), op, arg);
}
int SectorSize(sqlite3_file* f) { return F(f)->Real()->pMethods->xSectorSize(F(f)->Real()); }
int DeviceCharacteristics(sqlite3_file* f) {
    return F(f)->Real()->pMethods->xDeviceCharacteristics(F(f)->Real());
}
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** pp) {
    return F(f)->Real()->pMethods->xShmMap(F(f)->Real(), region, size, extend, pp);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
    return F(f)->Real()->pMethods->xShmLock(F(f)->Real(), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { F(f)->Real()->pMethods->xShmBarrier(F(f)->Real()); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return F(f)->Real()->pMethods->xShmUnmap(F(f)->Real(), deleteFlag); }
// No memory-mapped reads: every page goes through Read and Write.
int Fetch(sqlite3_file*, sqlite3_int64, int, void** pp) {
    *pp = nullptr;
    return SQLITE_OK;
}
int Unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    FaultyFile* ff = F(file);
    ff->mainDb = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    if (ff->mainDb && g_fault.load() == VfsFault::ReadOnly) {
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    }
    ff->base.pMethods = nullptr;
    const int rc = g_real->xOpen(g_real, name, ff->Real(), flags, outFlags);
    if (ff->Real()->pMethods != nullptr) ff->base.pMethods = &g_methods;
    return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) { return g_real->xDelete(g_real, name, syncDir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return g_real->xFullPathname(g_real, name, n, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void DlError(sqlite3_vfs*, int n, char* out) { g_real->xDlError(g_real, n, out); }
void (*DlSym(sqlite3_vfs*, void* h, const char* sym))(void) { return g_real->xDlSym(g_real, h, sym); }
void DlClose(sqlite3_vfs*, void* h) { g_real->xDlClose(g_real, h); }
int Randomness(sqlite3_vfs*, int n, char* out) { return g_real->xRandomness(g_real, n, out); }
int SleepVfs(sqlite3_vfs*, int us) { return g_real->xSleep(g_real, us); }
int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int GetLastError(sqlite3_vfs*, int n, char* out) { return g_real->xGetLastError(g_real, n, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }

void Register() {
    sqlite3_initialize();
    g_real = sqlite3_vfs_find("unix");
    g_methods = {3,         Close,    Read,   Write,      Truncate,          Sync,
                 FileSize,  Lock,     Unlock, CheckReservedLock, FileControl, SectorSize,
                 DeviceCharacteristics, ShmMap, ShmLock, ShmBarrier, ShmUnmap, Fetch, Unfetch};
    g_faulty.iVersion = 2;
    g_faulty.szOsFile = static_cast<int>(sizeof(FaultyFile)) + g_real->szOsFile;
    g_faulty.mxPathname = g_real->mxPathname;
    g_faulty.zName = "corvane-faulty";
    g_faulty.xOpen = Open;
    g_faulty.xDelete = Delete;
    g_faulty.xAccess = Access;
    g_faulty.xFullPathname = FullPathname;
    g_faulty.xDlOpen = DlOpen;
    g_faulty.xDlError = DlError;
    g_faulty.xDlSym = DlSym;
    g_faulty.xDlClose = DlClose;
    g_faulty.xRandomness = Randomness;
    g_faulty.xSleep = SleepVfs;
    g_faulty.xCurrentTime = CurrentTime;
    g_faulty.xGetLastError = GetLastError;
    g_faulty.xCurrentTimeInt64 = CurrentTimeInt64;
    sqlite3_vfs_register(&g_faulty, 0);
}
}  // namespace

void SetVfsFault(VfsFault fault) {
    static std::once_flag once;
    std::call_once(once, Register);
    g_fault.store(fault);
}

}  // namespace corvane::test
