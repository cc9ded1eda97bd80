// The queue between the control handler and the session worker: a change posted while the worker
// is idle is handled by the time Post returns; with no thread to be had it is handled on the
// handler's own thread; and changes are handled in the order they were posted.
#include "session/session_change_queue.h"

#include <gtest/gtest.h>

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "support/fake_threads.h"

namespace corvane::test {
namespace {

struct QueueCase {
    const char* label;
    bool bThreadsFail;
};
void PrintTo(const QueueCase& c, std::ostream* os) { *os << c.label; }

class SessionChangeQueueTest : public ::testing::TestWithParam<QueueCase> {
protected:
    std::vector<uint32_t> Handled() {
        std::lock_guard<std::mutex> lock(mutex);
        return handled;
    }

    FakeThreads threads;
    std::mutex mutex;
    std::vector<uint32_t> handled;  // session id * 100 + event code
};

TEST_P(SessionChangeQueueTest, EachChangeIsHandledBeforePostReturnsAndInOrder) {
    threads.failCreate = GetParam().bThreadsFail;
    {
        CSessionChangeQueue queue(threads, [&](uint32_t code, const WtsSessionNotification* n) {
            std::lock_guard<std::mutex> lock(mutex);
            handled.push_back((n ? n->dwSessionId : 0) * 100 + code);
        });
        std::vector<uint32_t> expected;
        for (uint32_t id : {1u, 2u}) {
            for (uint32_t code : {5u, 7u, 8u}) {
                WtsSessionNotification n;
                n.dwSessionId = id;
                queue.Post(code, &n);
                expected.push_back(id * 100 + code);
                EXPECT_EQ(Handled(), expected) << "handled when the control returns";
            }
        }
        queue.Post(1, nullptr);
        queue.WaitIdle();
        EXPECT_EQ(Handled().back(), 1u) << "a change without a notification is passed on without one";
    }
    threads.JoinAll();
}

INSTANTIATE_TEST_SUITE_P(Threads, SessionChangeQueueTest,
                         ::testing::Values(QueueCase {"OnTheSessionWorker", false},
                                           QueueCase {"OnTheHandlersThreadWhenNoThreadStarts", true}),
                         [](const ::testing::TestParamInfo<QueueCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace corvane::test
