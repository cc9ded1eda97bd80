#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/posix/posix_mutexes.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

TEST(PosixMutexes, SameNameGivesTheSameRecursiveMutex) {
    test::TempDir dir;
    posix::PosixMutexes mutexes(dir.Path("locks"));
    auto a = mutexes.OpenOrCreate(u"_MUTEX_CORVANE_SVR_G_Var_UserLog_", true);
    auto b = mutexes.OpenOrCreate(u"_MUTEX_CORVANE_SVR_G_Var_UserLog_", true);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a.get(), b.get());
    a->Lock();
    b->Lock();  // recursive: the owner may take it again
    std::atomic<bool> otherGotIt {false};
    std::thread other([&] {
        MutexGuard guard(a);
        otherGotIt = true;
    });
    b->Unlock();
    EXPECT_FALSE(otherGotIt.load());  // still held once
    a->Unlock();
    other.join();
    EXPECT_TRUE(otherGotIt.load());
}

TEST(PosixMutexes, GlobalNamesSerialiseAcrossProcessesThroughTheLockFile) {
    test::TempDir dir;
    // Two mutex namespaces over one lock directory behave like two processes.
    posix::PosixMutexes first(dir.Path("locks"));
    posix::PosixMutexes second(dir.Path("locks"));
    auto a = first.OpenOrCreate(u"Global\\Corvane_BTH_phone", true);
    auto b = second.OpenOrCreate(u"Global\\Corvane_BTH_phone", true);
    ASSERT_NE(a.get(), b.get());
    a->Lock();
    std::atomic<bool> otherGotIt {false};
    std::thread other([&] {
        b->Lock();
        otherGotIt = true;
        b->Unlock();
    });
    for (int i = 0; i < 20 && !otherGotIt; ++i) std::this_thread::yield();
    EXPECT_FALSE(otherGotIt.load());
    a->Unlock();
    other.join();
    EXPECT_TRUE(otherGotIt.load());
}

TEST(PosixMutexes, NullHandleGuardLocksNothing) {
    MutexHandle none;
    MutexGuard guard(none);  // users of a mutex that could not be created proceed unlocked
    SUCCEED();
}

}  // namespace
}  // namespace corvane
