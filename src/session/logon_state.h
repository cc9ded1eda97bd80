// The console and publication state: who is active and unlocked on the console, what the logon
// component last reported, and what was last published to the devices. Written by the session
// monitor and by the stream channel's handlers on different threads, so every access goes
// through this object's own lock (the strings would otherwise be torn by a concurrent write).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace corvane {

// LogonComponentState 4: the logon component is logging a user on.
inline constexpr uint16_t kLogonComponentLoggingOn = 4;
// PublishedState 1: a user is active on the console.
inline constexpr uint16_t kPublishedConsoleUser = 1;

class CLogonState {
public:
    std::u16string GetConsoleUser() const;
    std::u16string GetLogonComponentUser() const;
    uint16_t GetLogonComponentState() const;
    std::u16string GetPublishedUser() const;
    uint16_t GetPublishedState() const;
    // PublishedUser and PublishedState read together.
    void GetPublished(std::u16string& user, uint16_t& state) const;

    // The logon component's report (stream channel): its state and the user it names.
    void SetLogonComponent(uint16_t state, std::u16string_view user);
    // The state that publication would give now: 1 when a console user is set, else the logon
    // component's state.
    uint16_t StateToPublish() const;

    // Keeps ConsoleUser in step with a session record whose identity is `identity`: cleared when
    // it names that record and the record is no longer active on the console; set (clearing the
    // logon component's report) when another record becomes active on the console.
    void UpdateConsoleUser(std::u16string_view identity, bool bActiveOnConsole);
    // A deleted record: ConsoleUser is cleared when it names it.
    void ClearConsoleUserIf(std::u16string_view identity);
    // Publication: PublishedUser and PublishedState from ConsoleUser, else from the logon
    // component's report.
    void Publish();

    // For tests and start-up.
    void SetConsoleUser(std::u16string_view identity);

private:
    mutable std::mutex m_mutex;
    std::u16string m_strConsoleUser;
    std::u16string m_strLogonComponentUser;
    uint16_t m_wLogonComponentState = 0;
    std::u16string m_strPublishedUser;
    uint16_t m_wPublishedState = 0;
};

}  // namespace corvane
