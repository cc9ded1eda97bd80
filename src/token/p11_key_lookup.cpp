// Token reads of the container layer: labels, key identifiers, key and certificate objects,
// public keys and certificates, each cached in the container's entry once read.
#include <cstring>

#include "token/p11_containers.h"
#include "token/p11_error.h"
#include "token/p11_session.h"

namespace corvane {

bool FoldExponent(const uint8_t* bytes, size_t length, uint32_t& value) {
    uint32_t folded = 0;
    for (size_t i = 0; i < length; ++i) {
        if (folded == 0 && bytes[i] == 0) continue;
        if (folded > 0x00FFFFFF) return false;
        folded = (folded << 8) | bytes[i];
    }
    value = folded;
    return true;
}

uint32_t CP11Containers::ReadLabel(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, char* buffer,
                                   CK_ULONG& length) {
    if (!m_binding.IsInitialised()) return TokenError::NteFail;
    const CK_ULONG capacity = length;
    CK_ATTRIBUTE attribute = {CKA_LABEL, buffer, capacity};
    CK_RV rv = F()->C_GetAttributeValue(session, object, &attribute, 1);
    if (rv == CKR_OK) {
        // A library that claims more than it was given room for is not believed.
        if (buffer != nullptr && attribute.ulValueLen > capacity) return TokenError::MoreData;
        length = attribute.ulValueLen;
        return 0;
    }
    if (rv == CKR_BUFFER_TOO_SMALL && buffer != nullptr) {
        CK_ATTRIBUTE query = {CKA_LABEL, nullptr, 0};
        if (F()->C_GetAttributeValue(session, object, &query, 1) == CKR_OK) length = query.ulValueLen;
        return TokenError::MoreData;
    }
    return MapP11Error(rv);
}

uint32_t CP11Containers::ReadAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                                       CK_ULONG maxLength, std::vector<uint8_t>& value) {
    CK_ATTRIBUTE query = {type, nullptr, 0};
    CK_RV rv = F()->C_GetAttributeValue(session, object, &query, 1);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (query.ulValueLen == CK_UNAVAILABLE_INFORMATION || query.ulValueLen > maxLength) return TokenError::NteBadData;
    try {
        value.assign(query.ulValueLen, 0);
    } catch (const std::bad_alloc&) {
        return TokenError::NteNoMemory;
    }
    CK_ATTRIBUTE read = {type, value.data(), static_cast<CK_ULONG>(value.size())};
    rv = F()->C_GetAttributeValue(session, object, &read, 1);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (read.ulValueLen > value.size()) return TokenError::NteBadData;
    value.resize(read.ulValueLen);
    return 0;
}

uint32_t CP11Containers::MakeKeyId(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, uint8_t* buffer,
                                   uint32_t& length) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    uint32_t rc = EnsureSession(slot);
    if (rc != 0) return rc;
    // The container object must still exist.
    CK_ATTRIBUTE probe = {CKA_VALUE, nullptr, static_cast<CK_ULONG>(0xFFFFFFFF)};
    const CK_RV rv = F()->C_GetAttributeValue(slot.m_hSession, container.hContainer, &probe, 1);
    if (rv == CKR_OBJECT_HANDLE_INVALID) {
        // The listed handle went stale (the token came back with new handles): the list is
        // dropped so that the next lookup enumerates the token afresh.
        StopEnumeration(slot);
        ClearContainers(slot);
    }
    if (rv != CKR_OK) return MapP11Error(rv);
    if (!IsKeySpec(keySpec)) return TokenError::NteBadData;
    const std::string_view name = container.Name();
    const uint32_t needed = static_cast<uint32_t>(name.size() + 5);
    if (buffer == nullptr) {
        length = needed;
        return 0;
    }
    if (length < needed) {
        length = needed;
        return TokenError::MoreData;
    }
    std::memcpy(buffer, name.data(), name.size());
    std::memcpy(buffer + name.size(), keySpec == kAtSignature ? "_cspS" : "_cspX", 5);
    length = needed;
    return 0;
}

uint32_t CP11Containers::FindObjectOfPair(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                          CK_OBJECT_CLASS cls, uint32_t& handle) {
    uint8_t keyId[kKeyIdCapacity];
    uint32_t keyIdLength = sizeof(keyId);
    uint32_t rc = EnsureSession(slot);
    if (rc != 0) return rc;
    rc = MakeKeyId(slot, container, keySpec, keyId, keyIdLength);
    if (rc != 0) return rc;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_ATTRIBUTE keyTemplate[] = {{CKA_CLASS, &cls, sizeof(cls)},
                                  {CKA_ID, keyId, keyIdLength},
                                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)}};
    CK_ATTRIBUTE certTemplate[] = {{CKA_CLASS, &cls, sizeof(cls)},
                                   {CKA_CERTIFICATE_TYPE, &certType, sizeof(certType)},
                                   {CKA_ID, keyId, keyIdLength}};
    CP11Search search(F());
    CK_RV rv = search.Start(slot.LibrarySlotId(), cls == CKO_CERTIFICATE ? certTemplate : keyTemplate, 3);
    if (rv != CKR_OK) return MapP11Error(rv);
    CK_OBJECT_HANDLE object = 0;
    bool found = false;
    rv = search.Next(object, found);
    if (rv != CKR_OK) return MapP11Error(rv);
    handle = found && FitsHandle32(object) ? static_cast<uint32_t>(object) : kHandleAbsent;
    return 0;
}

uint32_t CP11Containers::FindKeyHandle(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                       bool wantPublic, uint32_t& handle) {
    uint32_t cached = kHandleUnknown;
    WithKeyInfo(slot, container.hContainer, keySpec,
                [&](P11KeyInfo& key) { cached = wantPublic ? key.hPublicKey : key.hPrivateKey; });
    if (cached == kHandleAbsent) return TokenError::NteNotFound;
    if (cached != kHandleUnknown) {
        handle = cached;
        return 0;
    }
    uint32_t found = kHandleAbsent;
    const uint32_t rc =
        FindObjectOfPair(slot, container, keySpec, wantPublic ? CKO_PUBLIC_KEY : CKO_PRIVATE_KEY, found);
    if (rc != 0) return rc;
    // Private objects are hidden until the user logs in: no private key found without a login
    // says nothing about the token, so it is reported as such and not remembered as absent.
    if (found == kHandleAbsent && !wantPublic && !UserLoggedIn(slot)) return TokenError::ScardCardNotAuthenticated;
    WithKeyInfo(slot, container.hContainer, keySpec,
                [&](P11KeyInfo& key) { (wantPublic ? key.hPublicKey : key.hPrivateKey) = found; });
    if (found == kHandleAbsent) return TokenError::NteNoKey;
    handle = found;
    return 0;
}

uint32_t CP11Containers::GetPublicKey(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                      uint32_t& bits, uint32_t* exponent, const uint8_t** modulus, ReplyArena* arena) {
    if (!IsKeySpec(keySpec)) return TokenError::NteBadData;
    bool cached = false;
    std::vector<uint8_t> bytes;
    uint32_t exp = 0;
    WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) {
        if (key.dwModulusBits != 0 && !key.modulus.empty()) {
            cached = true;
            bits = key.dwModulusBits;
            exp = key.dwExponent;
            if (modulus) bytes = key.modulus;
        }
    });
    if (!cached) {
        std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
        uint32_t handle = 0;
        uint32_t rc = FindKeyHandle(slot, container, keySpec, true, handle);
        if (rc != 0) return rc;
        rc = EnsureSession(slot);
        if (rc != 0) return rc;
        std::vector<uint8_t> n;
        rc = ReadAttribute(slot.m_hSession, handle, CKA_MODULUS, kMaxModulusBytes, n);
        if (rc != 0) return rc;
        size_t skip = 0;
        while (skip < n.size() && n[skip] == 0) ++skip;
        if (skip == n.size()) return TokenError::NteBadData;
        bytes.assign(n.begin() + static_cast<std::ptrdiff_t>(skip), n.end());
        std::vector<uint8_t> e;
        rc = ReadAttribute(slot.m_hSession, handle, CKA_PUBLIC_EXPONENT, kMaxModulusBytes, e);
        if (rc != 0) return rc;
        if (!FoldExponent(e.data(), e.size(), exp)) return TokenError::NteBadData;
        bits = static_cast<uint32_t>(bytes.size() * 8);
        WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) {
            key.dwModulusBits = bits;
            key.dwExponent = exp;
            key.modulus = bytes;
        });
    }
    if (exponent) *exponent = exp;
    if (modulus && arena) {
        const size_t size = (bits + 7) / 8;
        uint8_t* block = arena->Allocate(size);
        if (block == nullptr) return TokenError::NteNoMemory;
        // The cached modulus has no leading zero bytes; a bit count given at generation may ask
        // for more bytes than it holds, which are then leading zeros.
        const size_t have = std::min(size, bytes.size());
        std::memcpy(block + (size - have), bytes.data() + (bytes.size() - have), have);
        *modulus = block;
    }
    return 0;
}

bool CP11Containers::UserLoggedIn(P11Slot& slot) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    if (EnsureSession(slot) != 0) return false;
    CK_SESSION_INFO info {};
    if (F()->C_GetSessionInfo(slot.m_hSession, &info) != CKR_OK) return false;
    return info.state == CKS_RW_USER_FUNCTIONS || info.state == CKS_RO_USER_FUNCTIONS;
}

uint32_t CP11Containers::FindCertificate(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                         uint32_t& handle) {
    uint32_t cached = kHandleUnknown;
    WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) { cached = key.hCertificate; });
    if (cached == kHandleAbsent) return TokenError::NteNotFound;
    if (cached != kHandleUnknown) {
        handle = cached;
        return 0;
    }
    uint32_t found = kHandleAbsent;
    const uint32_t rc = FindObjectOfPair(slot, container, keySpec, CKO_CERTIFICATE, found);
    if (rc != 0) return rc;
    WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) { key.hCertificate = found; });
    if (found == kHandleAbsent) return TokenError::NteNotFound;
    handle = found;
    return 0;
}

uint32_t CP11Containers::ReadCertificate(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                         const uint8_t*& bytes, uint32_t& length, ReplyArena& arena) {
    if (!IsKeySpec(keySpec)) return TokenError::NteBadData;
    std::vector<uint8_t> der;
    WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) { der = key.certificate; });
    if (der.empty()) {
        std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
        uint32_t handle = 0;
        uint32_t rc = FindCertificate(slot, container, keySpec, handle);
        if (rc != 0) return rc;
        rc = EnsureSession(slot);
        if (rc != 0) return rc;
        rc = ReadAttribute(slot.m_hSession, handle, CKA_VALUE, kMaxCertificateBytes, der);
        if (rc != 0) return rc;
        if (der.empty()) return TokenError::NteNotFound;
        WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) { key.certificate = der; });
    }
    uint8_t* block = arena.Allocate(der.size());
    if (block == nullptr) return TokenError::NteNoMemory;
    std::memcpy(block, der.data(), der.size());
    bytes = block;
    length = static_cast<uint32_t>(der.size());
    return 0;
}

std::u16string CP11Containers::GetCertificateUpn(P11Slot& slot, uint32_t container, uint32_t keySpec) {
    std::vector<uint8_t> der;
    WithKeyInfo(slot, container, keySpec, [&](P11KeyInfo& key) { der = key.certificate; });
    if (der.empty() || !GetCertificateUpnText) return {};
    return GetCertificateUpnText(der.data(), der.size());
}

}  // namespace corvane
