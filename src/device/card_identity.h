// A smart card's identity: the 16-byte serial number of its token (CK_TOKEN_INFO serialNumber),
// written as GUID text in braces. It is the device id of the card's reader device, and it is how
// a card that comes back to its reader is told apart from another card.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

using TokenSerial = std::array<uint8_t, 16>;

// The 16 serial bytes read as a binary GUID, as StringFromGUID2 writes it (38 characters).
std::u16string CardDeviceId(const TokenSerial& serial);

// Where the reader device learns the serial of the token in a reader. The token layer fills it
// from its slot table; a reader without a slot or a token that cannot be read gives false.
class ICardIdentitySource {
public:
    virtual ~ICardIdentitySource() = default;
    // The serial of the token in the slot whose description is `reader` (ignoring case), read
    // from the token now, so that a card swapped for another is never taken for the first one.
    virtual bool ReadTokenSerial(std::u16string_view reader, TokenSerial& serial) = 0;
};

}  // namespace corvane
