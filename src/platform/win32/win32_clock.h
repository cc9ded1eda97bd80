// Time on Windows: GetTickCount, the system time as FILETIME, local time, Sleep.
#pragma once

#include "platform/clock.h"

namespace corvane::win32 {

class Win32Clock final : public IClock {
public:
    uint32_t GetTickCount() override;
    FileTime GetSystemTimeAsFileTime() override;
    FileTime ToLocalFileTime(FileTime utc) override;
    void Sleep(uint32_t milliseconds) override;
    bool SleepUntilWoken(WakeSignal& wake, uint32_t milliseconds) override { return wake.WaitFor(milliseconds); }
};

}  // namespace corvane::win32
