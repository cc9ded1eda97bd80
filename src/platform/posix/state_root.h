// The POSIX state root: every file the service keeps lies under $CORVANE_ROOT (default "/"),
// in the places a Windows machine would keep them.
#pragma once

#include <string>

namespace corvane::posix {

struct StateRoot {
    std::string root;  // without a trailing slash ("" for "/")

    static StateRoot FromEnvironment();
    static StateRoot At(const std::string& dir);

    std::string Path(const std::string& relative) const { return root + "/" + relative; }
    std::string RegistryDir() const { return Path("var/lib/corvane/registry"); }
    std::string ProgramDataDir() const { return Path("var/lib/corvane"); }
    std::string WindowsDir() const { return Path("var/lib/corvane"); }
    std::string SystemDir() const { return Path("var/log/corvane"); }
    // Certificates: trusted roots, NT authentication CAs, and the CSP stand-in's key store.
    std::string TrustDir() const { return Path("etc/corvane/trust"); }
    std::string NtAuthDir() const { return Path("etc/corvane/ntauth"); }
    std::string CspStoreDir() const { return Path("var/lib/corvane/csp"); }
    std::string RunDir() const { return Path("run/corvane"); }
    std::string ControlSocketPath() const { return RunDir() + "/control.sock"; }
    std::string LockDir() const { return RunDir() + "/locks"; }
    // Locked by the running service for its whole life: one service per state root.
    std::string InstanceLockPath() const { return ProgramDataDir() + "/service.lock"; }
};

// mkdir -p with the given mode for the directories it creates. 0 or errno.
int MakeDirectories(const std::string& path, unsigned mode = 0755);
// Writes a whole file through a temporary file and rename, so a crash never leaves half of it.
int WriteFileAtomic(const std::string& path, const void* data, size_t size, unsigned mode = 0644);
// Maps an errno value to the nearest Windows error code.
uint32_t ErrnoToWinError(int err);

}  // namespace corvane::posix
