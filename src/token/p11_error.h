// Translation of PKCS#11 return values into the service's error codes.
#pragma once

#include <cstdint>

#include "wire/result_codes.h"

namespace corvane {

// Codes the token layer answers with.
namespace TokenError {
constexpr uint32_t InvalidParameter = 87;           // ERROR_INVALID_PARAMETER
constexpr uint32_t MoreData = 234;                  // ERROR_MORE_DATA
constexpr uint32_t NoMoreItems = 259;               // ERROR_NO_MORE_ITEMS
constexpr uint32_t Cancelled = 1223;                // ERROR_CANCELLED
constexpr uint32_t NotEnoughMemory = 8;             // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t NteBadLen = Result::NteBadLen;
constexpr uint32_t NteBadData = Result::NteBadData;
constexpr uint32_t NteNoKey = 0x8009000D;
constexpr uint32_t NteNoMemory = Result::NteNoMemory;
constexpr uint32_t NteExists = 0x8009000F;
constexpr uint32_t NteNotFound = Result::NteNotFound;
constexpr uint32_t NteBadKeyset = 0x80090016;
constexpr uint32_t NteProviderDllFail = Result::NteProviderDllFail;
constexpr uint32_t NteFail = Result::NteFail;
constexpr uint32_t NteNotSupported = Result::NteNotSupported;
constexpr uint32_t ScardNoSmartcard = 0x8010000C;
constexpr uint32_t ScardUnknownCard = 0x8010000D;
constexpr uint32_t ScardWrongChv = 0x8010002A;
constexpr uint32_t ScardChvBlocked = 0x8010006C;
constexpr uint32_t ScardCancelledByUser = 0x8010006E;
constexpr uint32_t ScardCardNotAuthenticated = 0x8010006F;
}  // namespace TokenError

uint32_t MapP11Error(unsigned long rv);

}  // namespace corvane
