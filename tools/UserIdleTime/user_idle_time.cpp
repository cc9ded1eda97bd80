// UserIdleTime.exe: the service starts it in a user's session (with that user's token, on the
// interactive desktop) and reads its exit code: the milliseconds since the last keyboard or
// mouse input in this session, as a signed 32-bit value; -1 when Windows cannot tell. A window
// program without windows, so that nothing flashes up on the user's desktop.
#include <windows.h>

#include <climits>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LASTINPUTINFO input {};
    input.cbSize = sizeof input;
    if (!::GetLastInputInfo(&input)) return -1;
    // Both are GetTickCount values: the difference is right across the 49.7-day wrap.
    const DWORD idle = ::GetTickCount() - input.dwTime;
    return idle > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(idle);
}
