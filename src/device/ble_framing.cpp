#include "device/ble_framing.h"

#include <cstring>

#include "wire/msg_header.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {

constexpr uint32_t kErrorInvalidParameter = 87;

// ReadChannel until `size` bytes have arrived. A call that delivers nothing without an error
// would loop for ever; the library never does that, a broken one is treated as an I/O failure.
uint32_t ReadExact(IBleLibrary& ble, uint64_t channel, uint8_t* out, size_t size, uint32_t timeout) {
    size_t done = 0;
    while (done < size) {
        uint64_t length = size - done;
        const uint32_t rc = ble.ReadChannel(channel, out + done, &length, timeout);
        if (rc != 0) return rc;
        if (length == 0 || length > size - done) return kBleIoFailed;
        done += static_cast<size_t>(length);
    }
    return 0;
}

}  // namespace

uint32_t ReadMessage(IBleLibrary& ble, uint64_t channel, uint32_t timeout, ReplyArena& arena, uint8_t** message,
                     size_t* size) {
    *message = nullptr;
    *size = 0;
    if (channel == 0) return kBleNotSocket;
    uint8_t header[MsgHeader::kSize];
    if (const uint32_t rc = ReadExact(ble, channel, header, sizeof header, timeout)) return rc;
    const uint16_t length = MsgHeader::Decode(header, sizeof header)->length;
    uint8_t* buffer = arena.Allocate(static_cast<size_t>(length) + MsgHeader::kSize + 2);
    if (!buffer) return Result::NteNoMemory;
    std::memcpy(buffer, header, sizeof header);
    if (const uint32_t rc = ReadExact(ble, channel, buffer + MsgHeader::kSize, length, timeout)) {
        arena.Forget(buffer);
        return rc;
    }
    *message = buffer;
    *size = static_cast<size_t>(length) + MsgHeader::kSize;
    return 0;
}

uint32_t WriteMessage(IBleLibrary& ble, const uint8_t* message, uint64_t channel) {
    if (!message) return kErrorInvalidParameter;
    if (channel == 0) return kBleNotSocket;
    const size_t total = static_cast<size_t>(ReadU16(message + MsgHeader::kLengthOffset)) + MsgHeader::kSize;
    size_t done = 0;
    while (done < total) {
        uint64_t length = total - done;
        const uint32_t rc = ble.WriteChannel(channel, message + done, &length);
        if (rc != 0) return rc;
        if (length == 0 || length > total - done) return kBleIoFailed;
        done += static_cast<size_t>(length);
    }
    return 0;
}

}  // namespace corvane
