#include "token/p11_error.h"

#include "token/pkcs11.h"

namespace corvane {

uint32_t MapP11Error(unsigned long rv) {
    switch (rv) {
        case CKR_OK: return 0;
        case CKR_CANCEL: return TokenError::ScardCancelledByUser;
        case CKR_HOST_MEMORY:
        case CKR_DEVICE_MEMORY: return TokenError::NteNoMemory;
        case CKR_SLOT_ID_INVALID:
        case CKR_ARGUMENTS_BAD: return TokenError::InvalidParameter;
        case CKR_DATA_INVALID:
        case CKR_DATA_LEN_RANGE: return TokenError::NteBadData;
        case CKR_FUNCTION_NOT_SUPPORTED: return TokenError::NteNotSupported;
        case CKR_PIN_INCORRECT:
        case CKR_PIN_LEN_RANGE: return TokenError::ScardWrongChv;
        case CKR_PIN_LOCKED: return TokenError::ScardChvBlocked;
        case CKR_TOKEN_NOT_PRESENT: return TokenError::ScardUnknownCard;
        case CKR_USER_NOT_LOGGED_IN: return TokenError::ScardCardNotAuthenticated;
        case CKR_BUFFER_TOO_SMALL: return TokenError::MoreData;
        default: return TokenError::NteFail;
    }
}

}  // namespace corvane
