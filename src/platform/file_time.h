// FILETIME conversions: calendar time and Unix time to and from 100-ns ticks since 1601.
#pragma once

#include "platform/types.h"

namespace corvane {

constexpr FileTime kFileTimeUnixEpoch = 116444736000000000LL;  // 1970-01-01 as FILETIME
constexpr FileTime kFileTimePerSecond = 10000000LL;

FileTime UnixSecondsToFileTime(int64_t seconds);
int64_t FileTimeToUnixSeconds(FileTime ft);
// Calendar conversions without any time-zone shift (UTC in, UTC out).
CalendarTime FileTimeToCalendar(FileTime ft);
FileTime CalendarToFileTime(const CalendarTime& ct);

}  // namespace corvane
