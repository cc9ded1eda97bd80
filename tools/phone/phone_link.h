// Unix-domain sockets of the phone stand-in: connecting to the BLE library stand-in, its own
// listening socket, and framed messages (8-byte header, then `length` payload bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::phone {

// A connected socket with the 48-byte introduction sent, or -1.
int ConnectWithIntro(const std::string& path, char kind, const std::string& id);
// A listening socket at `path`, or -1. A socket file left by a process that is gone is replaced;
// one where a process still listens is not (bind then fails with EADDRINUSE).
int ListenAt(const std::string& path);
// Removes the socket file at `path` when nothing listens on it any more; true when removed.
bool RemoveStaleSocket(const std::string& path);
bool SendAll(int fd, const void* data, size_t size);
// Exactly `size` bytes; waits at most `ms` for each part (-1: no limit). False on EOF, error or
// time-out.
bool ReadExact(int fd, void* out, size_t size, int ms);
// One framed message (header and payload), or false.
bool ReadMessage(int fd, std::vector<uint8_t>& message, int ms);

}  // namespace corvane::phone
