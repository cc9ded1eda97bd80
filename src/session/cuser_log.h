// CUserLog: one logged-on Windows session as the service sees it. Plain record; copying it
// copies every field (readers in other threads take copies under the session table mutex).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/reply_arena.h"
#include "config/configuration.h"
#include "platform/sessions.h"
#include "platform/types.h"
#include "session/session_codes.h"

namespace corvane {

class CIdentity;

// What one update did to a record: its values before, the event it reports, whether its state
// changed and whether the console user has just left.
struct CUserLogChange {
    int32_t nOldState = SessionState::Unknown;
    int32_t nOldSession = kNoSessionId;
    int32_t nOldDesktop = DesktopKind::Unknown;
    int32_t nEvent = 0;
    bool bChanged = false;
    bool bConsoleUserLeft = false;
};

class CUserLog {
public:
    std::u16string m_strUser;
    std::u16string m_strDomain;      // NetBIOS form, or the computer name for local accounts
    std::u16string m_strWinStation;
    std::u16string m_strUpn;         // user, "@", DNS domain; rebuilt when user or domain change
    int32_t m_nDesktop = DesktopKind::Unknown;
    int32_t m_nLastEvent = 0;
    int32_t m_nState = SessionState::Unknown;
    FileTime m_ftLogon = 0;
    FileTime m_ftActive = 0;   // session time of the last change into state 5
    FileTime m_ftLocked = 0;   // session time of the last change into state 7
    FileTime m_ftUpdate = 0;   // session time of the last update
    int32_t m_nSession = kNoSessionId;

    // The record's own part of an update with session information (or none) and an event code:
    // state, desktop, names, times and session id, and the event to report. What the update
    // means for the log, the devices and the console identity is the session monitor's part.
    CUserLogChange Update(const WtsInfoEx* info, int32_t code, CIdentity& identity, bool bLockFlagsReversed);
    // Sets user and domain, rebuilding m_strUpn when either changed.
    void SetUser(std::u16string_view user, std::u16string_view domain, CIdentity& identity);

    // Whether a user principal name (from a certificate) names this session's user.
    bool MatchesUpn(std::u16string_view upn, CIdentity& identity) const;

    // The session query reply (0xB014): state, the request's 40 identifier bytes, host GUID and
    // computer name, the three times and the request's principal name. Allocated from `arena`;
    // null when the arena refuses or the principal name is too long for one message.
    uint8_t* EncodeStatus(const uint8_t* requestId, std::string_view principalName, const Configuration& config,
                          ReplyArena& arena, size_t& replySize) const;
    // The session time reply to a phone's request `requestCode` carrying `text`: desktop, state,
    // the three times as text, and the text. 0, or 0x80090020 when the arena refuses (or the
    // text is too long for one message).
    uint32_t EncodeTimes(uint16_t requestCode, std::string_view text, ReplyArena& arena, uint8_t*& reply,
                         size_t& replySize) const;
};

// Desktop kind of a window station: 1 for "Console", 2 for a name that starts with "RDP-Tcp"
// (both ignoring case), else `current`.
int32_t DesktopOfWinStation(std::u16string_view winStation, int32_t current);

}  // namespace corvane
