// The session side of the devices' presence tests: under the session-table mutex, the first
// session of an option's user and domain gets the offline action of the session actions.
#pragma once

#include "device/presence_tests.h"
#include "session/session_actions.h"
#include "session/session_table.h"

namespace corvane {

class CDeviceSessions final : public IDeviceSessions {
public:
    CDeviceSessions(CSessionTable& table, CSessionActions& actions) : m_table(table), m_actions(actions) {}

    SessionMatch OfflineAction(CLogonOpt& option, const CDevTovrel& device, uint32_t lossTick) override;
    SessionMatch AwayAction(CLogonOpt& option, const CDevTovrel& device) override;

private:
    // The first session of the option's user and domain, under the table mutex, given to `act`.
    template <typename Act>
    SessionMatch WithSessionOf(const CLogonOpt& option, Act act);

    CSessionTable& m_table;
    CSessionActions& m_actions;
};

}  // namespace corvane
