#include "phone_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vxble_link.h"
#include "wire/msg_header.h"

namespace corvane::phone {

namespace {
bool Address(const std::string& path, sockaddr_un& addr) {
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}
}  // namespace

int ConnectWithIntro(const std::string& path, char kind, const std::string& id) {
    sockaddr_un addr;
    if (!Address(path, addr)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    uint8_t intro[vxble::kIntroSize];
    vxble::BuildIntro(intro, kind, id);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || !SendAll(fd, intro, sizeof intro)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool RemoveStaleSocket(const std::string& path) {
    sockaddr_un addr;
    if (!Address(path, addr)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool refused = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno == ECONNREFUSED;
    ::close(fd);
    return refused && ::unlink(path.c_str()) == 0;
}

int ListenAt(const std::string& path) {
    sockaddr_un addr;
    if (!Address(path, addr)) return -1;
    // A socket file whose process is gone is replaced; one that still answers belongs to a phone
    // that runs, and is left alone.
    RemoveStaleSocket(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, p + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadExact(int fd, void* out, size_t size, int ms) {
    auto* p = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < size) {
        pollfd pfd {fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::recv(fd, p + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadMessage(int fd, std::vector<uint8_t>& message, int ms) {
    message.assign(MsgHeader::kSize, 0);
    if (!ReadExact(fd, message.data(), MsgHeader::kSize, ms)) return false;
    const size_t length = ReadU16(message.data() + MsgHeader::kLengthOffset);
    message.resize(MsgHeader::kSize + length);
    return length == 0 || ReadExact(fd, message.data() + MsgHeader::kSize, length, ms);
}

}  // namespace corvane::phone
