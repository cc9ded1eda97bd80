// Windows Sockets through the seam: start-up and clean-up, and the IPv4 socket operations the
// channels use. Every operation returns 0 or a Windows Sockets error code (WsaError), on every
// backend. The stop sequence calls Cleanup until it fails; that releases every reference and
// makes blocked accept and receive calls of the channel threads return with WsaError::Intr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/socket_address.h"

namespace corvane {

namespace WsaError {
constexpr int Intr = 10004;
constexpr int BadF = 10009;
constexpr int Access = 10013;
constexpr int Fault = 10014;
constexpr int Inval = 10022;
constexpr int MFile = 10024;
constexpr int WouldBlock = 10035;
constexpr int InProgress = 10036;
constexpr int Already = 10037;
constexpr int NotSock = 10038;
constexpr int DestAddrReq = 10039;
constexpr int MsgSize = 10040;
constexpr int ProtoNoSupport = 10043;
constexpr int OpNotSupp = 10045;
constexpr int AfNoSupport = 10047;
constexpr int AddrInUse = 10048;
constexpr int AddrNotAvail = 10049;
constexpr int NetDown = 10050;
constexpr int NetUnreach = 10051;
constexpr int ConnAborted = 10053;
constexpr int ConnReset = 10054;
constexpr int NoBufs = 10055;
constexpr int IsConn = 10056;
constexpr int NotConn = 10057;
constexpr int Shutdown = 10058;
constexpr int TimedOut = 10060;
constexpr int ConnRefused = 10061;
constexpr int HostDown = 10064;
constexpr int HostUnreach = 10065;
constexpr int NotInitialised = 10093;
constexpr int SysCallFailure = 10107;
constexpr int HostNotFound = 11001;
constexpr int TryAgain = 11002;
constexpr int NoRecovery = 11003;
}  // namespace WsaError

// The platform's SOCKET value. 0 and INVALID_SOCKET (all bits set) count as invalid.
using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;
inline bool IsValidSocket(SocketHandle s) { return s != 0 && s != kInvalidSocket; }

enum class SocketKind { Datagram, Stream };  // SOCK_DGRAM/UDP, SOCK_STREAM/TCP; always IPv4
enum class SocketWait { Read, Write };
enum class SocketShutdown { Receive = 0, Send = 1, Both = 2 };  // SD_RECEIVE, SD_SEND, SD_BOTH

// What one select on one socket reported.
struct SelectResult {
    bool ready = false;        // in the read or write set
    bool exceptional = false;  // in the exception set (a failed connect, an error pending)
};

class ISockets {
public:
    virtual ~ISockets() = default;
    // WSAStartup(2.2): 0 or a Windows Sockets error.
    virtual int Startup() = 0;
    // WSACleanup: 0 while a reference was released; WsaError::NotInitialised once none is left.
    virtual int Cleanup() = 0;

    // socket(AF_INET, ...): WsaError::NotInitialised while no Startup reference is held.
    virtual int Create(SocketKind kind, SocketHandle& out) = 0;
    // closesocket.
    virtual int Close(SocketHandle s) = 0;
    virtual int ShutdownSocket(SocketHandle s, SocketShutdown how) = 0;
    virtual int Bind(SocketHandle s, const SockAddrIn& local) = 0;
    virtual int Listen(SocketHandle s, int backlog) = 0;
    // accept; `peer` may be null.
    virtual int Accept(SocketHandle s, SocketHandle& out, SockAddrIn* peer) = 0;
    // connect; on a non-blocking socket a connect in progress gives WsaError::WouldBlock.
    virtual int Connect(SocketHandle s, const SockAddrIn& remote) = 0;
    // getsockname.
    virtual int GetLocalAddress(SocketHandle s, SockAddrIn& out) = 0;

    // Socket options: SO_RCVTIMEO in milliseconds (0 = wait forever), SO_BROADCAST, FIONBIO.
    virtual int SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) = 0;
    virtual int SetBroadcast(SocketHandle s, bool enable) = 0;
    virtual int SetNonBlocking(SocketHandle s, bool enable) = 0;
    // getsockopt(SO_ERROR): the socket's pending error as a Windows Sockets code.
    virtual int GetPendingError(SocketHandle s, int& error) = 0;

    // select with the socket in the read or write set and always in the exception set. 0 with
    // `result` filled (nothing ready after the time-out is 0 with both flags false), or an error.
    virtual int Select(SocketHandle s, SocketWait direction, long seconds, long microseconds,
                       SelectResult& result) = 0;

    // send/recv: 0 with the count moved (a receive of 0 bytes on a stream means the peer closed).
    virtual int Send(SocketHandle s, const void* data, size_t size, size_t& sent) = 0;
    virtual int Receive(SocketHandle s, void* buffer, size_t size, size_t& received) = 0;
    // sendto/recvfrom for datagrams. A blocking receive that outlives SO_RCVTIMEO gives
    // WsaError::TimedOut; one that Cleanup drained gives WsaError::Intr.
    virtual int SendTo(SocketHandle s, const void* data, size_t size, const SockAddrIn& to, size_t& sent) = 0;
    virtual int ReceiveFrom(SocketHandle s, void* buffer, size_t size, size_t& received, SockAddrIn& from) = 0;

    // Name resolution for IPv4 (GetAddrInfoW restricted to AF_INET): the first address, or
    // WsaError::HostNotFound when there is none.
    virtual int ResolveIPv4(std::u16string_view host, uint32_t& address) = 0;
};

}  // namespace corvane
