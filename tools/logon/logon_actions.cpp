#include "logon_actions.h"

#include "platform/sessions.h"
#include "platform/text.h"
#include "wire/result_codes.h"

namespace corvane::logon {

namespace {
bool SameUser(const posix::SimSession& s, const RelayedLogon& r) {
    return EqualsNoCase(Utf8ToUtf16(s.user), Utf8ToUtf16(r.user)) &&
           EqualsNoCase(Utf8ToUtf16(s.domain), Utf8ToUtf16(r.domain));
}
bool IsLocked(const posix::SimSession& s) { return s.flags == WtsSessionFlags::Lock; }
}  // namespace

uint32_t CarryOut(posix::SimSessionManager& sessions, const RelayedLogon& request) {
    posix::SimState state;
    if (uint32_t err = sessions.Read(state)) return err;
    const posix::SimSession* console = nullptr;
    const posix::SimSession* disconnected = nullptr;  // the user's own session, away from every desktop
    for (const auto& s : state.sessions) {
        if (s.id == state.consoleId && !s.user.empty()) console = &s;
        if (!s.user.empty() && s.connectState == WtsConnectState::Disconnected && SameUser(s, request)) {
            disconnected = &s;
        }
    }

    // At the logon screen, a logon of a user whose session is disconnected (locked by the
    // service when the phone left, or left by a switch of user) reconnects that session to the
    // console, as Windows does; otherwise it starts a new session.
    auto logon = [&]() -> uint32_t { return sessions.Logon(request.user, request.domain, false).error; };
    auto unlock = [&]() -> uint32_t { return IsLocked(*console) ? sessions.Unlock(console->id).error : 0; };

    switch (request.code) {
        case kRelayedLogon:
            if (console == nullptr) return logon();
            return SameUser(*console, request) ? unlock() : Result::OtherUserLoggedOn;
        case kRelayedUnlock:
            // The user's locked session may wait behind the logon screen rather than on the
            // console: unlocking it is then its reconnection.
            if (console == nullptr) return disconnected != nullptr ? logon() : Result::UserNotLoggedOn;
            return SameUser(*console, request) ? unlock() : Result::ConsoleLockedByOtherUser;
        default:  // re-logon
            if (console == nullptr) return logon();
            return SameUser(*console, request) ? unlock() : Result::ConsoleLockedByOtherUser;
    }
}

}  // namespace corvane::logon
