/* An idle-time program that never exits (the simulated machine's stand-in for a hung
   UserIdleTime.exe). */
#include <unistd.h>

int main(void) {
    for (;;) pause();
    return 0;
}
