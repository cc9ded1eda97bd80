#include "device/card_identity.h"

#include "platform/guid_text.h"
#include "wire/byte_order.h"

namespace corvane {

std::u16string CardDeviceId(const TokenSerial& serial) {
    Guid guid;
    guid.data1 = ReadU32(serial.data());
    guid.data2 = ReadU16(serial.data() + 4);
    guid.data3 = ReadU16(serial.data() + 6);
    for (size_t i = 0; i < 8; ++i) guid.data4[i] = serial[8 + i];
    return FormatGuid(guid);
}

}  // namespace corvane
