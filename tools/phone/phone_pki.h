// Pairing material of the phone stand-in: a test CA kept under the state root (made once, then
// reused) and trusted there as a root and as an NT authentication CA, and the key containers of a
// phone's soft token, each an RSA key exchange key with an X.509 certificate from that CA naming
// the user by principal name in its subject alternative name.
#pragma once

#include <string>

namespace corvane::phone {

// Makes or replaces the container `container` of phone `id` for `upn` (name@domain), and makes
// the test CA first when it does not exist yet. False with a message in `error`.
bool MakePairedContainer(const std::string& root, const std::string& id, const std::string& upn,
                         const std::string& container, std::string& error);

}  // namespace corvane::phone
