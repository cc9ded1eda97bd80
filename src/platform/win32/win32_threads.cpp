#include "platform/win32/win32_threads.h"

#include "platform/win32/win32_api.h"

#include <memory>

namespace corvane::win32 {

namespace {

DWORD WINAPI ThreadStart(LPVOID parameter) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

// A thread has no message queue until it first calls a message function; a message posted to
// it before then is refused. Peeking creates the queue.
void EnsureMessageQueue() {
    MSG msg;
    ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

}  // namespace

bool Win32Threads::CreateThread(std::function<void()> body) {
    auto* parameter = new std::function<void()>(std::move(body));
    DWORD threadId = 0;
    HANDLE handle = ::CreateThread(nullptr, 0, ThreadStart, parameter, 0, &threadId);
    if (!handle) {
        delete parameter;
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

uint32_t Win32Threads::GetCurrentThreadId() {
    EnsureMessageQueue();
    return ::GetCurrentThreadId();
}

bool Win32Threads::PostQuit(uint32_t threadId) {
    if (threadId == 0) return false;  // no service main thread yet
    return ::PostThreadMessageW(threadId, WM_QUIT, 0, 0) != FALSE;
}

void Win32Threads::RunMessageLoop() {
    EnsureMessageQueue();
    MSG msg;
    // GetMessageW returns 0 on WM_QUIT and -1 on failure; both end the loop.
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&msg);
    }
}

}  // namespace corvane::win32
