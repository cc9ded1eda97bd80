#include "wire/time_text.h"

#include "platform/file_time.h"
#include "platform/text.h"

namespace corvane {

std::u16string FormatFileTime(FileTime ft) {
    if (ft < 0) return {};
    const CalendarTime ct = FileTimeToCalendar(ft);
    return AsciiToUtf16(FormatUtf8("%04d-%02d-%02d %02d:%02d:%02d", ct.year, ct.month, ct.day, ct.hour, ct.minute,
                                   ct.second));
}

std::u16string FormatUtcNow(IClock& clock) { return FormatFileTime(clock.GetSystemTimeAsFileTime()); }

std::u16string FormatLocalNow(IClock& clock) {
    return FormatFileTime(clock.ToLocalFileTime(clock.GetSystemTimeAsFileTime()));
}

}  // namespace corvane
