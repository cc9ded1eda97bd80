#include "platform/win32/win32_key_containers.h"

#include "platform/win32/win32_api.h"

#include <wincrypt.h>

#include "platform/win32/win32_text.h"

namespace corvane::win32 {

uint32_t Win32KeyContainers::AcquireContext(CryptProvHandle& prov, std::u16string_view container,
                                            std::u16string_view provider, uint32_t providerType, uint32_t flags) {
    const std::wstring containerName = Wide(container);
    const std::wstring providerName = Wide(provider);
    HCRYPTPROV handle = 0;
    if (!::CryptAcquireContextW(&handle, containerName.c_str(), providerName.c_str(), providerType, flags)) {
        prov = 0;
        return ::GetLastError();
    }
    prov = handle;
    return 0;
}

uint32_t Win32KeyContainers::ImportKey(CryptProvHandle prov, const uint8_t* blob, size_t size, uint32_t flags,
                                       CryptKeyHandle& key) {
    HCRYPTKEY handle = 0;
    if (!::CryptImportKey(prov, blob, static_cast<DWORD>(size), 0, flags, &handle)) {
        key = 0;
        return ::GetLastError();
    }
    key = handle;
    return 0;
}

uint32_t Win32KeyContainers::GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) {
    HCRYPTKEY handle = 0;
    if (!::CryptGetUserKey(prov, keySpec, &handle)) {
        key = 0;
        return ::GetLastError();
    }
    key = handle;
    return 0;
}

uint32_t Win32KeyContainers::Decrypt(CryptKeyHandle key, uint8_t* data, uint32_t& length) {
    DWORD size = length;
    if (!::CryptDecrypt(key, 0, TRUE, 0, data, &size)) return ::GetLastError();
    length = size;
    return 0;
}

uint32_t Win32KeyContainers::DestroyKey(CryptKeyHandle key) {
    return ::CryptDestroyKey(key) ? 0 : ::GetLastError();
}

uint32_t Win32KeyContainers::ReleaseContext(CryptProvHandle prov) {
    return ::CryptReleaseContext(prov, 0) ? 0 : ::GetLastError();
}

}  // namespace corvane::win32
