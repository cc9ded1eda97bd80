#include "channel/session_query_codec.h"

#include <cstring>
#include <string_view>

#include "platform/text.h"
#include "wire/msg_header.h"

namespace corvane {

bool DecodeSessionQuery(const uint8_t* datagram, size_t size, SessionQuery& out) {
    using namespace SessionQueryLayout;
    const auto header = MsgHeader::Decode(datagram, size);
    if (!header || !header->MatchesSize(size) || size <= kPrincipal) return false;
    // The principal name runs from its offset to the first NUL, which must be inside the message.
    const void* nul = std::memchr(datagram + kPrincipal, 0, size - kPrincipal);
    if (nul == nullptr) return false;
    const std::string_view principal(reinterpret_cast<const char*>(datagram + kPrincipal),
                                     static_cast<const uint8_t*>(nul) - (datagram + kPrincipal));
    if (header->length != kDeviceIdSize + principal.size() + 1) return false;
    out.deviceIdSlot = datagram + kDeviceId;
    out.deviceId = Utf8SlotToUtf16(datagram + kDeviceId, kDeviceIdSize);
    out.principalUtf8 = std::string(principal);
    out.principal = Utf8ToUtf16(principal);
    return true;
}

}  // namespace corvane
