// Threads and the service main thread's message queue. Worker threads are started and never
// joined (the stop sequence relies on flags and counters); the service main thread runs a message
// loop that ends when WM_QUIT is posted to it.
#pragma once

#include <cstdint>
#include <functional>

namespace corvane {

class IThreads {
public:
    virtual ~IThreads() = default;
    // CreateThread with the handle closed at once. False when the thread could not start.
    virtual bool CreateThread(std::function<void()> body) = 0;
    virtual uint32_t GetCurrentThreadId() = 0;
    // PostThreadMessageW(threadId, WM_QUIT, 0, 0).
    virtual bool PostQuit(uint32_t threadId) = 0;
    // GetMessageW/DispatchMessageW on the calling thread's queue until WM_QUIT arrives.
    virtual void RunMessageLoop() = 0;
};

}  // namespace corvane
