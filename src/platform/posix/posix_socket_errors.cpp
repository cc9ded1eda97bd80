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
