#include "platform/posix/posix_clock.h"

#include <time.h>

#include "platform/file_time.h"

namespace corvane::posix {

uint32_t PosixClock::GetTickCount() {
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

FileTime PosixClock::GetSystemTimeAsFileTime() {
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return UnixSecondsToFileTime(ts.tv_sec) + ts.tv_nsec / 100;
}

FileTime PosixClock::ToLocalFileTime(FileTime utc) {
    const time_t secs = static_cast<time_t>(FileTimeToUnixSeconds(utc));
    tm local {};
    ::localtime_r(&secs, &local);
    return utc + static_cast<FileTime>(local.tm_gmtoff) * kFileTimePerSecond;
}

void PosixClock::Sleep(uint32_t milliseconds) {
    timespec ts {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace corvane::posix
