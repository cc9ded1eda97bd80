// The operating system's message texts for result codes that are not the service's own: Windows
// error codes, HRESULTs (CryptoAPI NTE_*, certificate and revocation codes, smart-card SCARD_*)
// and Windows Sockets codes. On Windows this is FormatMessageW; elsewhere a table of the codes
// this service produces, with the texts Windows gives for them.
#pragma once

#include <cstdint>
#include <string>

namespace corvane {

class ISystemMessages {
public:
    virtual ~ISystemMessages() = default;
    // FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, code, default
    // language). False, with `out` untouched, when the system has no message for the code.
    virtual bool FormatSystemMessage(uint32_t code, std::u16string& out) = 0;
};

}  // namespace corvane
