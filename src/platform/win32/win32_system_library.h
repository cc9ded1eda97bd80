// Windows' own DLLs loaded from the system folder only. A bare name given to LoadLibraryW is looked
// for in the program's folder first, so a DLL placed beside the service would run as LocalSystem.
#pragma once

#include "platform/win32/win32_api.h"

namespace corvane::win32 {

// LoadLibraryExW with LOAD_LIBRARY_SEARCH_SYSTEM32: null with GetLastError set when the system
// folder does not hold the DLL.
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace corvane::win32
