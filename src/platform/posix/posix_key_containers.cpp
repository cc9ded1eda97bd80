#include "platform/posix/posix_key_containers.h"

#include "platform/types.h"

namespace corvane::posix {

uint32_t PosixKeyContainers::AcquireContext(CryptProvHandle& prov, std::u16string_view, std::u16string_view, uint32_t,
                                            uint32_t) {
    prov = 0;
    return kNteKeysetNotDef;
}

uint32_t PosixKeyContainers::ImportKey(CryptProvHandle, const uint8_t*, size_t, uint32_t, CryptKeyHandle& key) {
    key = 0;
    return WinError::InvalidHandle;
}

uint32_t PosixKeyContainers::GetUserKey(CryptProvHandle, uint32_t, CryptKeyHandle& key) {
    key = 0;
    return WinError::InvalidHandle;
}

uint32_t PosixKeyContainers::Decrypt(CryptKeyHandle, uint8_t*, uint32_t&) { return WinError::InvalidHandle; }

uint32_t PosixKeyContainers::DestroyKey(CryptKeyHandle) { return WinError::InvalidHandle; }

uint32_t PosixKeyContainers::ReleaseContext(CryptProvHandle) { return WinError::InvalidHandle; }

}  // namespace corvane::posix
