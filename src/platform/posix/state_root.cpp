#include "platform/posix/state_root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/types.h"

namespace corvane::posix {

StateRoot StateRoot::FromEnvironment() {
    const char* env = std::getenv("CORVANE_ROOT");
    return At(env && *env ? env : "/");
}

StateRoot StateRoot::At(const std::string& dir) {
    StateRoot r;
    r.root = dir;
    while (!r.root.empty() && r.root.back() == '/') r.root.pop_back();
    return r;
}

int MakeDirectories(const std::string& path, unsigned mode) {
    if (path.empty()) return 0;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return errno;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int WriteFileAtomic(const std::string& path, const void* data, size_t size, unsigned mode) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string tmp = dir + "/.tmp-XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return errno;
    ::fchmod(fd, mode);
    const auto* p = static_cast<const uint8_t*>(data);
    size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            return err;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return err;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return err;
    }
    return 0;
}

uint32_t ErrnoToWinError(int err) {
    switch (err) {
        case 0: return WinError::Success;
        case ENOENT: return WinError::FileNotFound;
        case ENOTDIR: return WinError::PathNotFound;
        case EACCES:
        case EPERM:
        case EROFS: return WinError::AccessDenied;
        case ENOMEM: return WinError::NotEnoughMemory;
        case EEXIST: return WinError::AlreadyExists;
        case ENOSPC: return 112;  // ERROR_DISK_FULL
        case EINVAL: return WinError::InvalidParameter;
        default: return WinError::WriteFault;
    }
}

}  // namespace corvane::posix
