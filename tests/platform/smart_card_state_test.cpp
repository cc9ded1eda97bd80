// The reader state handed back to the next wait of the smart-card resource manager.
#include <gtest/gtest.h>

#include "platform/smart_cards.h"

namespace corvane::test {
namespace {

TEST(SmartCardWaitState, KeepsWhatTheLastWaitSawAndDropsWhatOnlyDescribedItsReport) {
    using namespace Scard;
    const struct {
        const char* label;
        uint32_t eventState;
        uint32_t expected;
    } cases[] = {
        // Windows reports a reader that is not there (unplugged) as UNKNOWN | CHANGED | IGNORE;
        // handed back with IGNORE, the reader would never be looked at again.
        {"reader gone (Windows)", StateUnknown | StateChanged | StateIgnore, StateUnknown},
        {"reader gone (pcsc-lite)", StateUnknown | StateUnavailable | StateChanged, StateUnknown | StateUnavailable},
        {"card in, event counter kept", (7u << 16) | StatePresent | StateInUse | StateChanged,
         (7u << 16) | StatePresent | StateInUse},
        {"mute card", (3u << 16) | StatePresent | StateMute | StateChanged, (3u << 16) | StatePresent | StateMute},
        {"reader empty", StateEmpty | StateChanged, StateEmpty},
        {"nothing seen yet", StateUnaware, StateUnaware},
    };
    for (const auto& c : cases) EXPECT_EQ(StateToWaitOn(c.eventState), c.expected) << c.label;
}

}  // namespace
}  // namespace corvane::test
