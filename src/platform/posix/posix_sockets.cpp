#include "platform/posix/posix_sockets.h"

#include <sys/socket.h>

namespace corvane::posix {

int PosixSockets::Startup() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_references;
    return 0;
}

int PosixSockets::Cleanup() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_references == 0) return WsaError::NotInitialised;
    if (--m_references == 0) {
        for (int fd : m_sockets) ::shutdown(fd, SHUT_RDWR);
    }
    return 0;
}

void PosixSockets::RegisterSocket(int fd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.insert(fd);
}

void PosixSockets::UnregisterSocket(int fd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.erase(fd);
}

}  // namespace corvane::posix
