#include "channel/presence_datagram.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "platform/text.h"

namespace corvane {

bool DecodePresence(const uint8_t* datagram, size_t size, PresenceDatagram& out) {
    using namespace Contract;
    // The name needs at least its terminator.
    if (datagram == nullptr || size < kPresenceNameOffset + 1) return false;
    const uint8_t* name = datagram + kPresenceNameOffset;
    const size_t nameRoom = size - kPresenceNameOffset;
    const void* nul = std::memchr(name, 0, nameRoom);
    if (nul == nullptr) return false;

    out.port = ReadU16(datagram + kPresencePortOffset);
    out.value = ReadU32(datagram + kPresenceValueOffset);
    const uint8_t* id = datagram + kPresenceIdOffset;
    out.id = Utf8SlotToUtf16(id, kPresenceIdSize);
    // An ID the device list could not carry again (empty, or longer than its slot once malformed
    // bytes have been replaced) would make every list request fail while the entry lives. ASCII
    // comes back unchanged; only other bytes need the check.
    if (out.id.empty()) return false;
    const bool ascii = std::all_of(id, id + kPresenceIdSize, [](uint8_t b) { return b < 0x80; });
    if (!ascii && Utf16ToUtf8(out.id).size() > kPresenceIdSize) return false;
    out.name = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(name),
                                            static_cast<const uint8_t*>(nul) - name));
    return true;
}

}  // namespace corvane
