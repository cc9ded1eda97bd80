// The Windows headers, for the Win32 backend only. With UNICODE, <windows.h> defines macros such
// as GetCommandLine -> GetCommandLineW that would rename the seam's methods of the same name in
// the files that include it; those macros are removed here, and the backend calls the wide
// functions by their full names. Include this instead of <windows.h>; add a name below when a
// seam method meets another such macro.
#pragma once

#include <winsock2.h>
#include <windows.h>

#undef ChangeServiceConfig
#undef CreateService
#undef GetCommandLine
#undef GetModuleFileName
#undef GetSystemDirectory
#undef InitiateShutdown
#undef OpenService
#undef RegisterDeviceNotification
#undef RegisterServiceCtrlHandlerEx
#undef SetCurrentDirectory
#undef StartServiceCtrlDispatcher
