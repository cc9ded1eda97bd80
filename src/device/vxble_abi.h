// The nine calls of the BLE library and its two callbacks, as the library exports them (plain C,
// 64-bit opaque handles, 32-bit results with 0 for success). Shared by the service's binding and
// by the library stand-in under tools/.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define VXBLE_CALL __cdecl
#else
#define VXBLE_CALL
#endif

extern "C" {

// A phone has connected (device != 0) or the adapter has failed (device == 0). The context is
// whatever the library passes; the service does not use it, nor the value returned.
typedef uint32_t(VXBLE_CALL* VxBleConnectCallback)(void* context, uint64_t device);
// One signal-strength sample: a signed 16-bit dBm value in the low half of rssi.
typedef void(VXBLE_CALL* VxBleSignalCallback)(uint64_t device, uint32_t rssi);

typedef uint32_t(VXBLE_CALL* VxStartBleService)(uint64_t* service, const uint8_t* hostGuid,
                                                VxBleConnectCallback onConnect);
typedef uint32_t(VXBLE_CALL* VxStopBleService)(uint64_t service);
typedef uint32_t(VXBLE_CALL* VxGetActiveChannel)(uint64_t device, uint64_t* channel);
typedef uint32_t(VXBLE_CALL* VxGetPassiveChannel)(uint64_t device, uint64_t* channel);
typedef uint32_t(VXBLE_CALL* VxCloseDevice)(uint64_t device);
// length: bytes wanted in, bytes delivered out; timeout in ms, 0xFFFFFFFF for none.
typedef uint32_t(VXBLE_CALL* VxReadChannel)(uint64_t channel, void* buffer, uint64_t* length, uint32_t timeout);
// length: bytes offered in, bytes taken out.
typedef uint32_t(VXBLE_CALL* VxWriteChannel)(uint64_t channel, const void* buffer, uint64_t* length);
typedef uint32_t(VXBLE_CALL* VxAddSignalStrengthEvent)(uint64_t device, uint64_t* cookie,
                                                       VxBleSignalCallback onSignal);
typedef uint32_t(VXBLE_CALL* VxRemoveSignalStrengthEvent)(uint64_t device, uint64_t cookie);

}  // extern "C"

namespace corvane {

inline constexpr uint32_t kBleNoTimeout = 0xFFFFFFFF;
// Results the library reports besides 0.
inline constexpr uint32_t kBleTimedOut = 10060;       // WSAETIMEDOUT
inline constexpr uint32_t kBleNotSocket = 10038;      // WSAENOTSOCK: no channel
inline constexpr uint32_t kBleErrorCode = 0x20010001;
inline constexpr uint32_t kBleIoFailed = 0x20010002;
inline constexpr uint32_t kBleChannelClosed = 0x20010003;

}  // namespace corvane
