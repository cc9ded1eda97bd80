#include "channel/stream_device_requests.h"

#include "wire/result_codes.h"

namespace corvane {

uint32_t CAbsentDeviceRequests::ListPhones(ReplyArena& arena, uint8_t*& payload, size_t& size) {
    // A count of 0 and an empty string area.
    payload = arena.Allocate(2);
    size = payload ? 2 : 0;
    return payload ? 0 : Result::NteNoMemory;
}

}  // namespace corvane
