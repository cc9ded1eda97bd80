// Windows Sockets start-up and clean-up. Each successful Startup takes one reference; Cleanup
// releases one, and the last release makes blocked socket calls of every thread fail.
#pragma once

#include "platform/sockets.h"

namespace corvane::win32 {

class Win32Sockets final : public ISockets {
public:
    int Startup() override;  // WSAStartup(2.2)
    int Cleanup() override;  // WSACleanup
};

}  // namespace corvane::win32
