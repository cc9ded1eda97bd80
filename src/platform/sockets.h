// Windows Sockets start-up and clean-up. The stop sequence calls Cleanup until it fails; that
// releases every reference and makes blocked accept and receive calls of the channel threads
// return. The socket operations themselves join this interface with the channels.
#pragma once

#include <cstdint>

namespace corvane {

namespace WsaError {
constexpr int Intr = 10004;
constexpr int NotSock = 10038;
constexpr int WouldBlock = 10035;
constexpr int ConnReset = 10054;
constexpr int TimedOut = 10060;
constexpr int ConnRefused = 10061;
constexpr int NotInitialised = 10093;
constexpr int HostNotFound = 11001;
}  // namespace WsaError

class ISockets {
public:
    virtual ~ISockets() = default;
    // WSAStartup(2.2): 0 or a Windows Sockets error.
    virtual int Startup() = 0;
    // WSACleanup: 0 while a reference was released; WsaError::NotInitialised once none is left.
    virtual int Cleanup() = 0;
};

}  // namespace corvane
