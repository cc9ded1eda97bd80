// The CSP's token requests on the stream channel: slot list (0x7001), slot state (0x7002) and
// token operation (0x7011). The stream channel frames, decrypts and encrypts; the token layer
// owns the payload layouts, their checks and the answers, behind this interface, which the
// composition root hands to the channel. Until the token layer is wired, CAbsentTokenRequests
// answers as a service without a PKCS#11 library does.
//
// Every call gets the whole plain request message: the 8-byte header (code, length, status)
// followed by `length` payload bytes and two zero bytes (so `size` = length + 8, and a payload
// ending in a string is always terminated). On success it returns 0 and a complete reply
// message in `reply` (8-byte header with its `length` set, then the payload), allocated from the
// request's `arena`, which the channel releases after sending; the channel sets the reply's code
// and status. On failure it returns the error code, and the channel sends the bare error header.
//
// Reply codes (set by the channel): 0xF001 for 0x7001, 0xF002 for 0x7002; for 0x7011 the
// sub-opcode (u16 at payload offset 4) OR 0x8000 when the payload holds one (length > 11), else
// 0xF011.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/reply_arena.h"
#include "wire/result_codes.h"

namespace corvane {

// Codes the token layer answers with.
namespace TokenStatus {
constexpr uint32_t NteBadLen = Result::NteBadLen;
constexpr uint32_t NteBadData = Result::NteBadData;
constexpr uint32_t NteNotFound = Result::NteNotFound;
constexpr uint32_t NteProviderDllFail = Result::NteProviderDllFail;
constexpr uint32_t ScardENoSmartcard = 0x8010000C;
}  // namespace TokenStatus

// Token operation payload: slot id, sub-opcode, sub-length, 4 bytes not interpreted, data.
inline constexpr size_t kTokenOperationHeaderSize = 12;
inline constexpr size_t kTokenSubOpcodeOffset = 4;
inline constexpr size_t kTokenSubLengthOffset = 6;

class IStreamTokenRequests {
public:
    virtual ~IStreamTokenRequests() = default;
    virtual uint32_t HandleSlotList(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                                    size_t& replySize) = 0;
    virtual uint32_t HandleSlotState(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                                     size_t& replySize) = 0;
    virtual uint32_t HandleTokenOperation(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                                          size_t& replySize) = 0;
};

// A service whose PKCS#11 library cannot be loaded: the requests' own checks first, then the
// failure the token layer gives in that state: the slot list fails to load the library
// (NTE_PROVIDER_DLL_FAIL), the slot state finds no slot (NTE_NOT_FOUND), a token operation finds
// no smart card (SCARD_E_NO_SMARTCARD).
class CAbsentTokenRequests final : public IStreamTokenRequests {
public:
    uint32_t HandleSlotList(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                            size_t& replySize) override;
    uint32_t HandleSlotState(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                             size_t& replySize) override;
    uint32_t HandleTokenOperation(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                                  size_t& replySize) override;
};

}  // namespace corvane
