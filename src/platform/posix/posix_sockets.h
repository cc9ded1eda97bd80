// Windows Sockets start-up and clean-up on POSIX: a reference count, and a set of registered
// sockets that the last clean-up shuts down, so that blocked accept and receive calls return
// at once (the POSIX form of draining Windows Sockets in the stop sequence).
#pragma once

#include <mutex>
#include <set>

#include "platform/sockets.h"

namespace corvane::posix {

class PosixSockets final : public ISockets {
public:
    int Startup() override;
    int Cleanup() override;

    // Channels register the sockets they block on; Cleanup of the last reference shuts them down.
    void RegisterSocket(int fd);
    void UnregisterSocket(int fd);

private:
    std::mutex m_mutex;
    int m_references = 0;
    std::set<int> m_sockets;
};

}  // namespace corvane::posix
