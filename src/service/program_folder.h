// The service's current directory is its own program folder. The idle-time program is started by
// bare name, which Windows resolves in the current directory only, and the service control
// manager starts services in the system folder; UserIdleTime.exe lies beside the service's program.
#pragma once

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace corvane {

// The folder of the running program, with its trailing separator ("C:\" for a program at a drive's
// root): 0, or the error of GetModuleFileName; a path without a separator gives ERROR_BAD_PATHNAME.
uint32_t ProgramFolder(ISystem& system, std::u16string& folder);
// Makes the program folder the current directory: 0 or the error.
uint32_t EnterProgramFolder(ISystem& system);

}  // namespace corvane
