// The PKCS#11 (Cryptoki v2.x) declarations in the platform's binary layout: on Windows packed to
// 1-byte boundaries with a 32-bit CK_ULONG, elsewhere the platform's natural layout. Only the
// function list is used; the library's functions are never called by name.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>

namespace corvane {

// The object class of a key container (CKO_VENDOR_DEFINED + 1), shared with the companion CSP.
constexpr CK_OBJECT_CLASS kCkoContainer = 0x80000001UL;
// Handle states of the key caches: not looked up yet, looked up and absent.
constexpr uint32_t kHandleUnknown = 0;
constexpr uint32_t kHandleAbsent = 0xFFFFFFFF;

}  // namespace corvane
