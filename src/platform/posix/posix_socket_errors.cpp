#include "platform/posix/posix_socket_errors.h"

#include <netdb.h>

#include <cerrno>

#include "platform/sockets.h"

namespace corvane::posix {

int ErrnoToWsaError(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return WsaError::Intr;
        case EBADF: return WsaError::NotSock;
        case ENOTSOCK: return WsaError::NotSock;
        case EACCES:
        case EPERM: return WsaError::Access;
        case EFAULT: return WsaError::Fault;
        case EINVAL: return WsaError::Inval;
        case EMFILE:
        case ENFILE: return WsaError::MFile;
        case EAGAIN: return WsaError::WouldBlock;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK: return WsaError::WouldBlock;
#endif
        // A non-blocking connect under way is reported as Windows Sockets does.
        case EINPROGRESS: return WsaError::WouldBlock;
        case EALREADY: return WsaError::Already;
        case EDESTADDRREQ: return WsaError::DestAddrReq;
        case EMSGSIZE: return WsaError::MsgSize;
        case EPROTONOSUPPORT: return WsaError::ProtoNoSupport;
        case EOPNOTSUPP: return WsaError::OpNotSupp;
        case EAFNOSUPPORT: return WsaError::AfNoSupport;
        case EADDRINUSE: return WsaError::AddrInUse;
        case EADDRNOTAVAIL: return WsaError::AddrNotAvail;
        case ENETDOWN: return WsaError::NetDown;
        case ENETUNREACH: return WsaError::NetUnreach;
        case ECONNABORTED: return WsaError::ConnAborted;
        case ECONNRESET:
        case EPIPE: return WsaError::ConnReset;
        case ENOBUFS:
        case ENOMEM: return WsaError::NoBufs;
        case EISCONN: return WsaError::IsConn;
        case ENOTCONN: return WsaError::NotConn;
        case ESHUTDOWN: return WsaError::Shutdown;
        case ETIMEDOUT: return WsaError::TimedOut;
        case ECONNREFUSED: return WsaError::ConnRefused;
        case EHOSTDOWN: return WsaError::HostDown;
        case EHOSTUNREACH: return WsaError::HostUnreach;
        default: return WsaError::SysCallFailure;
    }
}

int WsaErrorToErrno(int wsaError) {
    switch (wsaError) {
        case WsaError::Intr: return EINTR;
        case WsaError::BadF: return EBADF;
        case WsaError::Access: return EACCES;
        case WsaError::Fault: return EFAULT;
        case WsaError::Inval: return EINVAL;
        case WsaError::MFile: return EMFILE;
        case WsaError::WouldBlock: return EWOULDBLOCK;
        case WsaError::InProgress: return EINPROGRESS;
        case WsaError::Already: return EALREADY;
        case WsaError::NotSock: return ENOTSOCK;
        case WsaError::DestAddrReq: return EDESTADDRREQ;
        case WsaError::MsgSize: return EMSGSIZE;
        case WsaError::ProtoNoSupport: return EPROTONOSUPPORT;
        case WsaError::OpNotSupp: return EOPNOTSUPP;
        case WsaError::AfNoSupport: return EAFNOSUPPORT;
        case WsaError::AddrInUse: return EADDRINUSE;
        case WsaError::AddrNotAvail: return EADDRNOTAVAIL;
        case WsaError::NetDown: return ENETDOWN;
        case WsaError::NetUnreach: return ENETUNREACH;
        case WsaError::ConnAborted: return ECONNABORTED;
        case WsaError::ConnReset: return ECONNRESET;
        case WsaError::NoBufs: return ENOBUFS;
        case WsaError::IsConn: return EISCONN;
        case WsaError::NotConn: return ENOTCONN;
        case WsaError::Shutdown: return ESHUTDOWN;
        case WsaError::TimedOut: return ETIMEDOUT;
        case WsaError::ConnRefused: return ECONNREFUSED;
        case WsaError::HostDown: return EHOSTDOWN;
        case WsaError::HostUnreach: return EHOSTUNREACH;
        default: return 0;
    }
}

int AddrInfoErrorToWsaError(int eai) {
    switch (eai) {
        case 0: return 0;
        case EAI_NONAME:
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
        case EAI_FAMILY: return WsaError::HostNotFound;
        case EAI_AGAIN: return WsaError::TryAgain;
        case EAI_MEMORY: return WsaError::NoBufs;
        default: return WsaError::NoRecovery;
    }
}

}  // namespace corvane::posix
