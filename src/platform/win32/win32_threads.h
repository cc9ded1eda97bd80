// Threads on Windows: CreateThread with the handle closed at once, and the thread message queue
// of the service main thread, which ends its loop on WM_QUIT.
#pragma once

#include "platform/threads.h"

namespace corvane::win32 {

class Win32Threads final : public IThreads {
public:
    bool CreateThread(std::function<void()> body) override;
    // Also gives the calling thread its message queue, so that a quit posted to the id it hands
    // out is kept even when it arrives before the thread enters its loop.
    uint32_t GetCurrentThreadId() override;
    bool PostQuit(uint32_t threadId) override;  // PostThreadMessageW(WM_QUIT)
    void RunMessageLoop() override;             // GetMessageW / DispatchMessageW until WM_QUIT
};

}  // namespace corvane::win32
