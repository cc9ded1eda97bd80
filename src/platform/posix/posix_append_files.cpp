#include "platform/posix/posix_append_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {
constexpr uint32_t kErrorSharingViolation = 32;

int WriteAll(int fd, const char* p, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}
}  // namespace

uint32_t PosixAppendFiles::AppendToFile(std::u16string_view path, std::string_view header, std::string_view data) {
    const std::string file = Utf16ToUtf8(path);
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return ErrnoToWinError(errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? kErrorSharingViolation : ErrnoToWinError(err);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return ErrnoToWinError(err);
    }
    std::string bytes;
    if (st.st_size == 0) bytes.assign(header);
    bytes.append(data);
    int err = WriteAll(fd, bytes.data(), bytes.size());
    if (err != 0) {
        // Take back whatever part of the line made it, so the next line starts on its own.
        (void)::ftruncate(fd, st.st_size);
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    return ErrnoToWinError(err);
}

}  // namespace corvane::posix
