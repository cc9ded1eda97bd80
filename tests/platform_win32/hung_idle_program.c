/* An idle-time program that never exits, built as UserIdleTime.exe into a folder of its own. */
#include <windows.h>

int main(void) {
    Sleep(INFINITE);
    return 0;
}
