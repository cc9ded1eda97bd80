// errno values of the POSIX socket calls as the Windows Sockets codes the channels compare with.
#pragma once

namespace corvane::posix {

// The nearest WsaError for an errno value of a socket call; WsaError::SysCallFailure when none
// fits. EAGAIN/EWOULDBLOCK map to WsaError::WouldBlock (a timed-out blocking receive is told
// apart by the caller, which knows the socket's mode).
int ErrnoToWsaError(int err);

// The errno value a Windows Sockets code of these calls stands for, so that a tool on POSIX can
// say what went wrong in the system's own words; 0 for a code that has none (or 0).
int WsaErrorToErrno(int wsaError);

// The resolver's EAI_* codes as Windows Sockets codes (EAI_NONAME is WsaError::HostNotFound).
int AddrInfoErrorToWsaError(int eai);

}  // namespace corvane::posix
