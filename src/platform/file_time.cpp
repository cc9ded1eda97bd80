#include "platform/file_time.h"

namespace corvane {

namespace {
// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}
}  // namespace

FileTime UnixSecondsToFileTime(int64_t seconds) {
    return seconds * kFileTimePerSecond + kFileTimeUnixEpoch;
}

int64_t FileTimeToUnixSeconds(FileTime ft) {
    const int64_t t = ft - kFileTimeUnixEpoch;
    return t >= 0 ? t / kFileTimePerSecond : -((-t + kFileTimePerSecond - 1) / kFileTimePerSecond);
}

CalendarTime FileTimeToCalendar(FileTime ft) {
    CalendarTime ct;
    if (ft < 0) ft = 0;
    const int64_t totalMs = ft / 10000;
    int64_t secs = totalMs / 1000 - kFileTimeUnixEpoch / kFileTimePerSecond;
    ct.milliseconds = static_cast<int>(totalMs % 1000);
    int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    int64_t rem = secs - days * 86400;
    CivilFromDays(days, ct.year, ct.month, ct.day);
    ct.hour = static_cast<int>(rem / 3600);
    ct.minute = static_cast<int>((rem % 3600) / 60);
    ct.second = static_cast<int>(rem % 60);
    ct.dayOfWeek = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
    return ct;
}

FileTime CalendarToFileTime(const CalendarTime& ct) {
    const int64_t days = DaysFromCivil(ct.year, static_cast<unsigned>(ct.month), static_cast<unsigned>(ct.day));
    const int64_t secs = days * 86400 + ct.hour * 3600 + ct.minute * 60 + ct.second;
    return UnixSecondsToFileTime(secs) + static_cast<int64_t>(ct.milliseconds) * 10000;
}

}  // namespace corvane
