#include "platform/win32/win32_system_library.h"

namespace corvane::win32 {

HMODULE LoadSystemLibrary(const wchar_t* name) { return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32); }

}  // namespace corvane::win32
