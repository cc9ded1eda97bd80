#include "session/card_sign_in.h"

namespace corvane {

void CCardSignInRecord::Record(const CardSignIn& signIn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signIn = signIn;
}

CardSignIn CCardSignInRecord::Get() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signIn;
}

bool CCardSignInRecord::ClearUpnIf(std::u16string_view upn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_signIn.m_strUpn != upn) return false;
    m_signIn.m_strUpn.clear();
    return true;
}

std::u16string CardSerialText(const TokenSerial& serial) {
    std::u16string text;
    for (uint8_t b : serial) {
        if (b == 0) break;
        text.push_back(static_cast<char16_t>(b));
    }
    return text;
}

}  // namespace corvane
