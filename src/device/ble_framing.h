// Messages on a BLE channel: the 8-byte MsgHeader followed by exactly `length` payload bytes, with
// no other delimiter. A received message sits in a zero-filled buffer of length + 10 bytes from
// the request's arena, so two zero bytes always follow the payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/ble_library.h"
#include "wire/reply_arena.h"

namespace corvane {

// Reads one whole message: the header, then the payload, each with as many ReadChannel calls as
// it takes (every call gets the full time-out). 0 with the message and its size (length + 8), or
// 10038 for channel 0, 0x8009000E when the arena refuses, or the library's code; on an error
// nothing stays in the arena.
uint32_t ReadMessage(IBleLibrary& ble, uint64_t channel, uint32_t timeout, ReplyArena& arena, uint8_t** message,
                     size_t* size);
// Writes a whole message (header and `length` payload bytes): 87 for a null message, 10038 for
// channel 0, else 0 or the first error of WriteChannel. The message buffer must hold length + 8
// bytes.
uint32_t WriteMessage(IBleLibrary& ble, const uint8_t* message, uint64_t channel);

}  // namespace corvane
