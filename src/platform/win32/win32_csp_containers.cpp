#include "platform/win32/win32_csp_containers.h"

#include "platform/win32/win32_api.h"

#include <wincrypt.h>

#include "platform/win32/win32_key_containers.h"

namespace corvane::win32 {

// Acquiring and releasing are the same calls as for the service's own key containers.
uint32_t Win32CspContainers::AcquireContext(CryptProvHandle& prov, std::u16string_view container,
                                            std::u16string_view provider, uint32_t providerType, uint32_t flags) {
    return Win32KeyContainers().AcquireContext(prov, container, provider, providerType, flags);
}

uint32_t Win32CspContainers::GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) {
    HCRYPTKEY handle = 0;
    if (!::CryptGetUserKey(prov, keySpec, &handle)) {
        key = 0;
        return ::GetLastError();
    }
    key = handle;
    return 0;
}

uint32_t Win32CspContainers::GetKeyParam(CryptKeyHandle key, uint32_t param, std::vector<uint8_t>& value) {
    value.clear();
    DWORD size = 0;
    if (!::CryptGetKeyParam(key, param, nullptr, &size, 0)) return ::GetLastError();
    value.resize(size);
    if (!::CryptGetKeyParam(key, param, value.data(), &size, 0)) {
        value.clear();
        return ::GetLastError();
    }
    value.resize(size);
    return 0;
}

uint32_t Win32CspContainers::SetKeyParam(CryptKeyHandle key, uint32_t param, const uint8_t* value) {
    return ::CryptSetKeyParam(key, param, value, 0) ? 0 : ::GetLastError();
}

uint32_t Win32CspContainers::CreateHash(CryptProvHandle prov, uint32_t algorithm, CryptHashHandle& hash) {
    HCRYPTHASH handle = 0;
    if (!::CryptCreateHash(prov, algorithm, 0, 0, &handle)) {
        hash = 0;
        return ::GetLastError();
    }
    hash = handle;
    return 0;
}

uint32_t Win32CspContainers::SetHashParam(CryptHashHandle hash, uint32_t param, const uint8_t* value) {
    return ::CryptSetHashParam(hash, param, value, 0) ? 0 : ::GetLastError();
}

uint32_t Win32CspContainers::SignHash(CryptHashHandle hash, uint32_t keySpec, uint32_t flags,
                                      std::vector<uint8_t>& signature) {
    signature.clear();
    DWORD size = 0;
    if (!::CryptSignHashW(hash, keySpec, nullptr, flags, nullptr, &size)) return ::GetLastError();
    signature.resize(size);
    if (!::CryptSignHashW(hash, keySpec, nullptr, flags, signature.data(), &size)) {
        signature.clear();
        return ::GetLastError();
    }
    signature.resize(size);
    return 0;
}

uint32_t Win32CspContainers::DestroyHash(CryptHashHandle hash) { return ::CryptDestroyHash(hash) ? 0 : ::GetLastError(); }

uint32_t Win32CspContainers::DestroyKey(CryptKeyHandle key) { return Win32KeyContainers().DestroyKey(key); }

uint32_t Win32CspContainers::ReleaseContext(CryptProvHandle prov) { return Win32KeyContainers().ReleaseContext(prov); }

}  // namespace corvane::win32
