// An idle-time program that never exits: the probe gives up after its bound, ends the program and
// fails with WAIT_TIMEOUT, so that the session table it is probed under is free again long before
// the service's stop budget runs out.
#include "platform/win32/win32_sessions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/text.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_system.h"
#include "service/program_folder.h"

namespace corvane {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Win32IdleProgram, AProgramThatHangsIsEndedAfterTheBound) {
    win32::Win32System system;
    std::u16string folder;
    ASSERT_EQ(ProgramFolder(system, folder), 0u);
    // hung\UserIdleTime.exe beside the test program never exits.
    ASSERT_EQ(system.SetCurrentDirectory(folder + u"hung"), 0u);

    win32::Win32Sessions sessions(300);
    int32_t idle = -1;
    const auto start = Clock::now();
    const uint32_t rc = sessions.RunIdleProgram(::GetCurrentProcessId(), &idle);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    system.SetCurrentDirectory(folder);
    if (rc != kIdleProgramTimedOut && rc != 0) {
        GTEST_SKIP() << "Wine cannot start a program with a duplicated token here (error " << rc << ")";
    }
    EXPECT_EQ(rc, kIdleProgramTimedOut);
    EXPECT_EQ(idle, -1) << "no idle time from a program that was ended";
    // The bound, not the program, ended the wait: far inside the 15 s the stop waits for workers.
    EXPECT_LT(elapsed, 5000);
    std::printf("the hung idle-time program was ended after %lld ms\n", static_cast<long long>(elapsed));
}

}  // namespace
}  // namespace corvane
