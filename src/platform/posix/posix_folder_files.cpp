#include "platform/posix/posix_folder_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "platform/types.h"

namespace corvane::posix {

namespace {
// Files larger than this are not read whole.
constexpr off_t kMaxReadBytes = 64 << 20;
}  // namespace

uint32_t PosixFolderFiles::GetAttributes(std::u16string_view path, bool& directory) {
    struct stat st {};
    if (stat(Utf16ToUtf8(path).c_str(), &st) != 0) return ErrnoToWinError(errno);
    directory = S_ISDIR(st.st_mode);
    return 0;
}

uint32_t PosixFolderFiles::CreateFolder(std::u16string_view path) {
    if (mkdir(Utf16ToUtf8(path).c_str(), 0755) == 0) return 0;
    return errno == EEXIST ? WinError::AlreadyExists : ErrnoToWinError(errno);
}

uint32_t PosixFolderFiles::ListFolder(std::u16string_view folder, std::u16string_view suffix,
                                      std::vector<FolderEntry>& entries) {
    entries.clear();
    const std::string dir = Utf16ToUtf8(folder);
    DIR* d = opendir(dir.c_str());
    if (!d) return errno == ENOENT || errno == ENOTDIR ? WinError::PathNotFound : ErrnoToWinError(errno);
    while (dirent* e = readdir(d)) {
        const std::u16string name = Utf8ToUtf16(e->d_name);
        if (name == u"." || name == u"..") continue;
        // The pattern "*suffix" as the Windows listing matches it: ignoring case.
        if (name.size() < suffix.size() ||
            !EqualsNoCase(std::u16string_view(name).substr(name.size() - suffix.size()), suffix)) {
            continue;
        }
        struct stat st {};
        const bool isDir = stat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        entries.push_back({name, isDir});
    }
    closedir(d);
    return entries.empty() ? WinError::FileNotFound : 0;
}

uint32_t PosixFolderFiles::ReadWholeFile(std::u16string_view path, std::vector<uint8_t>& data) {
    data.clear();
    const int fd = open(Utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ErrnoToWinError(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxReadBytes) {
        close(fd);
        return WinError::AccessDenied;
    }
    uint8_t buf[8192];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            close(fd);
            return ErrnoToWinError(err);
        }
        if (n == 0) break;
        if (data.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxReadBytes)) break;
        data.insert(data.end(), buf, buf + n);
    }
    close(fd);
    return 0;
}

uint32_t PosixFolderFiles::WriteWholeFile(std::u16string_view path, const uint8_t* data, size_t size) {
    const int err = WriteFileAtomic(Utf16ToUtf8(path), data, size, 0644);
    return err ? ErrnoToWinError(err) : 0;
}

}  // namespace corvane::posix
