// The audit database files are always opened through the page cipher's VFS.
#pragma once

#include <string>

namespace corvane {

// A VFS named without the cipher's prefix is wrapped by it (the default VFS, "", is already the
// cipher's), so that no page of the audit trail is ever written in clear.
std::string CipherVfsName(const std::string& vfs);

}  // namespace corvane
