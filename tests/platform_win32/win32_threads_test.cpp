#include "platform/win32/win32_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace corvane {
namespace {

TEST(Win32Threads, AQuitPostedBeforeTheLoopStartsEndsIt) {
    win32::Win32Threads threads;
    std::promise<uint32_t> id;
    std::promise<void> posted;
    std::promise<void> ended;
    ASSERT_TRUE(threads.CreateThread([&] {
        id.set_value(threads.GetCurrentThreadId());
        posted.get_future().wait();  // the quit arrives before the loop runs
        threads.RunMessageLoop();
        ended.set_value();
    }));
    const uint32_t threadId = id.get_future().get();
    EXPECT_TRUE(threads.PostQuit(threadId));
    posted.set_value();

    EXPECT_EQ(ended.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST(Win32Threads, AQuitPostedWhileTheLoopWaitsEndsIt) {
    win32::Win32Threads threads;
    std::promise<uint32_t> id;
    std::promise<void> ended;
    ASSERT_TRUE(threads.CreateThread([&] {
        id.set_value(threads.GetCurrentThreadId());
        threads.RunMessageLoop();
        ended.set_value();
    }));
    const uint32_t threadId = id.get_future().get();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    EXPECT_TRUE(threads.PostQuit(threadId));
    EXPECT_EQ(ended.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST(Win32Threads, PostingToNoThreadFails) {
    win32::Win32Threads threads;
    EXPECT_FALSE(threads.PostQuit(0));
}

}  // namespace
}  // namespace corvane
