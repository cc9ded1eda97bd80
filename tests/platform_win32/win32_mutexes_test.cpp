#include "platform/win32/win32_mutexes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace corvane {
namespace {

TEST(Win32Mutexes, TheNamePrefixGoesAfterTheGlobalNamespace) {
    win32::Win32Mutexes mutexes(u"t1.");
    EXPECT_EQ(mutexes.KernelName(u"Global\\Corvane_BTH_x"), u"Global\\t1.Corvane_BTH_x");
    EXPECT_EQ(mutexes.KernelName(u"_MUTEX_CORVANE_SVR_G_Var_UserLog_"), u"t1._MUTEX_CORVANE_SVR_G_Var_UserLog_");
    EXPECT_EQ(win32::Win32Mutexes().KernelName(u"Global\\x"), u"Global\\x");
}

TEST(Win32Mutexes, OneNameOpenedTwiceGivesTheSameHandle) {
    win32::Win32Mutexes mutexes(u"corvane-test-same.");
    MutexHandle first = mutexes.OpenOrCreate(u"_MUTEX_CORVANE_SVR_G_Var_UserLog_", true);
    EXPECT_EQ(mutexes.OpenOrCreate(u"_MUTEX_CORVANE_SVR_G_Var_UserLog_", true), first);
    EXPECT_NE(mutexes.OpenOrCreate(u"_MUTEX_CORVANE_SVR_G_Var_DevNet_", true), first);
}

TEST(Win32Mutexes, TwoHandlesOfOneKernelMutexExcludeEachOtherAcrossThreads) {
    // Two sets of handles, as two processes (the service and a companion) would hold them.
    win32::Win32Mutexes service(u"corvane-test-exclusion.");
    win32::Win32Mutexes companion(u"corvane-test-exclusion.");
    MutexHandle first = service.OpenOrCreate(u"Global\\Global_Mutex_TovrelSvr_20190917_", true);
    MutexHandle second = companion.OpenOrCreate(u"Global\\Global_Mutex_TovrelSvr_20190917_", false);
    ASSERT_TRUE(first && second);
    ASSERT_NE(first, second);

    first->Lock();
    first->Lock();  // recursive for its owner
    std::atomic<bool> acquired {false};
    std::thread other([&] {
        MutexGuard guard(second);
        acquired = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(acquired.load());
    first->Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired.load()) << "still held once";
    first->Unlock();
    other.join();
    EXPECT_TRUE(acquired.load());
}

TEST(Win32Mutexes, ReleasingAMutexNotOwnedIsHarmless) {
    win32::Win32Mutexes mutexes(u"corvane-test-release.");
    MutexHandle handle = mutexes.OpenOrCreate(u"_MUTEX_CORVANE_SVR_G_Var_DevNet_", true);
    ASSERT_TRUE(handle);
    handle->Unlock();
    MutexGuard guard(handle);
}

// A name another kind of kernel object already holds: no handle, and the system's own error.
TEST(Win32Mutexes, ANameTakenByAnEventGivesTheSystemsError) {
    win32::Win32Mutexes mutexes(u"corvane-test-taken.");
    const std::u16string kernelName = mutexes.KernelName(u"Global\\Global_Mutex_TovrelSvr_20190917_");
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, reinterpret_cast<const wchar_t*>(kernelName.c_str()));
    ASSERT_NE(event, nullptr);
    uint32_t error = 0;
    EXPECT_EQ(mutexes.OpenOrCreate(u"Global\\Global_Mutex_TovrelSvr_20190917_", true, error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    ::CloseHandle(event);
}

}  // namespace
}  // namespace corvane
