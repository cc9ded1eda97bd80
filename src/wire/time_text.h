// The time text of the records: "%04d-%02d-%02d %02d:%02d:%02d" (year-month-day
// hour:minute:second). The audit database stores UTC in this form, the text event log local time.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/types.h"

namespace corvane {

// The given FILETIME as text, without any time-zone shift. Empty when the value cannot be
// converted (a negative FILETIME, as FileTimeToSystemTime refuses it).
std::u16string FormatFileTime(FileTime ft);
// The current UTC time as text.
std::u16string FormatUtcNow(IClock& clock);
// The current local time as text (GetLocalTime).
std::u16string FormatLocalNow(IClock& clock);

}  // namespace corvane
