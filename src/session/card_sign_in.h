// CardSignIn: the last smart-card sign-in seen by the token requests while the logon component
// was logging a user on. The session monitor confirms it when that user's console session
// becomes active within 30 seconds, and then attaches a lock-when-removed option for the user to
// the card's reader device. Written and read on different threads, so it has a lock of its own.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "device/card_identity.h"

namespace corvane {

struct CardSignIn {
    std::u16string m_strUpn;  // from the certificate of the key used; empty when none
    uint32_t m_dwTick = 0;    // GetTickCount at recording
    TokenSerial m_serial {};  // the token's serial number
    std::u16string m_strReader;
};

// A sign-in counts for up to 29999 ms after it was recorded.
inline constexpr uint32_t kCardSignInWindowMs = 29999;

class CCardSignInRecord {
public:
    void Record(const CardSignIn& signIn);
    CardSignIn Get() const;
    // Clears the principal name if it is still `upn`, so that a sign-in confirms once; false
    // when another thread has confirmed or replaced it meanwhile.
    bool ClearUpnIf(std::u16string_view upn);

private:
    mutable std::mutex m_mutex;
    CardSignIn m_signIn;
};

// The serial as text: the bytes up to the first NUL, at most 16, one character each.
std::u16string CardSerialText(const TokenSerial& serial);

}  // namespace corvane
