// A network phone's session query (0x3014): one reply datagram per session of the user it names,
// to the phone's port 45452, when the phone is paired.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "config/configuration.h"
#include "platform/platform.h"
#include "session/cuser_log.h"

namespace corvane {

// The queries' reach into the session monitor. An empty hook: no session is ever found.
struct SessionQueryHooks {
    // Under the session table mutex: every session record whose MatchesUpn accepts the principal
    // name.
    std::function<void(std::u16string_view upn, const std::function<void(const CUserLog&)>& visit)>
        ForEachSessionOfUpn;
};

class CSessionQueries {
public:
    CSessionQueries(Platform& platform, Configuration& config, SessionQueryHooks hooks = {});
    CSessionQueries(const CSessionQueries&) = delete;
    CSessionQueries& operator=(const CSessionQueries&) = delete;

    // 0 when handled (whether or not any reply went out); -3509 when the query is malformed.
    int32_t HandleSessionQuery(const uint8_t* datagram, size_t size, const SockAddrIn& source);

    SessionQueryHooks& Hooks() { return m_hooks; }

private:
    Platform& m_platform;
    Configuration& m_config;
    SessionQueryHooks m_hooks;
};

}  // namespace corvane
