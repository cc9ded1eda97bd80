#include "token/p11_objects.h"

#include <cstring>
#include <string>
#include <vector>

#include "crypto/secure_zero.h"
#include "token/handle_wrappers.h"
#include "token/p11_error.h"
#include "token/p11_session.h"

namespace corvane {

namespace {

CK_UTF8CHAR* Bytes(std::string_view text) {
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(text.data()));
}

// A component of the RSA engine's key, big-endian without leading zeros.
bool ExportComponent(RsaHandle key, uint32_t what, std::vector<uint8_t>& out) {
    uint32_t length = 0;
    if (RsaExport(key, what, nullptr, &length) != 0 || length == 0) return false;
    out.assign(length, 0);
    if (RsaExport(key, what, out.data(), &length) != 0) return false;
    out.resize(length);
    return true;
}

constexpr uint32_t kRsaExportN = 129;
constexpr uint32_t kRsaExportE = 130;
constexpr uint32_t kRsaExportP = 131;
constexpr uint32_t kRsaExportQ = 132;
constexpr uint32_t kRsaPrivateKeyDer = 2;

}  // namespace

CP11Objects::CP11Objects(CP11Containers& containers) : m_containers(containers) {}

uint32_t CP11Objects::CreateContainer(P11Slot& slot, std::string_view name, uint32_t& handle) {
    // A name must fit a container entry with its terminator.
    if (name.size() >= ContainerInfo::kNameSize) return TokenError::NteBadData;
    // The name is looked for under the session lock that the creation holds: two creators of one
    // name then cannot both find it free, make two objects and list only one of them.
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    if (m_containers.FindContainerByName(slot, name, nullptr) == 0) return TokenError::NteExists;
    uint32_t rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    CK_OBJECT_CLASS cls = kCkoContainer;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &cls, sizeof(cls)},
                                 {CKA_LABEL, const_cast<char*>(name.data()), static_cast<CK_ULONG>(name.size())},
                                 {CKA_TOKEN, &yes, sizeof(yes)},
                                 {CKA_MODIFIABLE, &yes, sizeof(yes)}};
    CK_OBJECT_HANDLE object = 0;
    const CK_RV rv = F()->C_CreateObject(slot.m_hSession, attributes, 4, &object);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (!FitsHandle32(object)) return TokenError::NteFail;
    ContainerInfo info;
    info.SetName(name);
    info.hContainer = static_cast<uint32_t>(object);
    rc = m_containers.AddContainer(slot, info);
    if (rc != 0) return rc;
    handle = info.hContainer;
    return 0;
}

uint32_t CP11Objects::DestroyObjectsById(P11Slot& slot, const uint8_t* id, uint32_t length, bool keysOnly) {
    CK_ATTRIBUTE byId[] = {{CKA_ID, const_cast<uint8_t*>(id), length}};
    CP11Search search(F());
    CK_RV rv = search.Start(slot.LibrarySlotId(), byId, 1);
    if (rv != CKR_OK) return MapP11Error(rv);
    for (;;) {
        CK_OBJECT_HANDLE object = 0;
        bool found = false;
        rv = search.Next(object, found);
        if (rv != CKR_OK) return MapP11Error(rv);
        if (!found) return 0;
        CK_OBJECT_CLASS cls = 0;
        CK_ATTRIBUTE classAttr = {CKA_CLASS, &cls, sizeof(cls)};
        rv = F()->C_GetAttributeValue(search.Session(), object, &classAttr, 1);
        if (rv != CKR_OK) return MapP11Error(rv);
        bool destroy = false;
        if (cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY) {
            CK_KEY_TYPE type = 0;
            CK_ATTRIBUTE typeAttr = {CKA_KEY_TYPE, &type, sizeof(type)};
            rv = F()->C_GetAttributeValue(search.Session(), object, &typeAttr, 1);
            if (rv != CKR_OK) return MapP11Error(rv);
            destroy = type == CKK_RSA;
        } else if (cls == CKO_CERTIFICATE && !keysOnly) {
            CK_CERTIFICATE_TYPE type = 0;
            CK_ATTRIBUTE typeAttr = {CKA_CERTIFICATE_TYPE, &type, sizeof(type)};
            rv = F()->C_GetAttributeValue(search.Session(), object, &typeAttr, 1);
            if (rv != CKR_OK) return MapP11Error(rv);
            destroy = type == CKC_X_509;
        }
        if (destroy) {
            rv = F()->C_DestroyObject(slot.m_hSession, object);
            if (rv != CKR_OK) return MapP11Error(rv);
        }
    }
}

uint32_t CP11Objects::DeleteContainer(P11Slot& slot, uint32_t handle) {
    ContainerInfo container;
    uint32_t rc = m_containers.GetContainerByHandle(slot, handle, &container);
    if (rc != 0) return rc;
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    CK_ATTRIBUTE probe = {CKA_VALUE, nullptr, static_cast<CK_ULONG>(0xFFFFFFFF)};
    CK_RV rv = F()->C_GetAttributeValue(slot.m_hSession, container.hContainer, &probe, 1);
    if (rv != CKR_OK) return MapP11Error(rv);
    const std::string_view name = container.Name();
    if (name.size() + 5 > CP11Containers::kKeyIdCapacity) return TokenError::NteFail;
    for (const char* suffix : {"_cspS", "_cspX"}) {
        std::string id(name);
        id += suffix;
        rc = DestroyObjectsById(slot, reinterpret_cast<const uint8_t*>(id.data()), static_cast<uint32_t>(id.size()),
                                false);
        if (rc != 0) return rc;
    }
    rv = F()->C_DestroyObject(slot.m_hSession, container.hContainer);
    if (rv != CKR_OK) return MapP11Error(rv);
    m_containers.RemoveContainer(slot, container.hContainer);
    return 0;
}

uint32_t CP11Objects::GenerateKeyPair(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, uint32_t bits,
                                      uint32_t exponent) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    uint8_t keyId[CP11Containers::kKeyIdCapacity];
    uint32_t keyIdLength = sizeof(keyId);
    uint32_t rc = m_containers.MakeKeyId(slot, container, keySpec, keyId, keyIdLength);
    if (rc != 0) return rc;
    rc = DestroyObjectsById(slot, keyId, keyIdLength, true);
    if (rc != 0) return rc;
    rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;

    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG modulusBits = bits;
    uint8_t e[4] = {static_cast<uint8_t>(exponent >> 24), static_cast<uint8_t>(exponent >> 16),
                    static_cast<uint8_t>(exponent >> 8), static_cast<uint8_t>(exponent)};
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_CLASS, &publicClass, sizeof(publicClass)}, {CKA_ID, keyId, keyIdLength},
        {CKA_TOKEN, &yes, sizeof(yes)},                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        {CKA_WRAP, &yes, sizeof(yes)},                   {CKA_VERIFY, &yes, sizeof(yes)},
        {CKA_ENCRYPT, &yes, sizeof(yes)},                {CKA_MODULUS_BITS, &modulusBits, sizeof(modulusBits)},
        {CKA_PUBLIC_EXPONENT, e, sizeof(e)}};
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_CLASS, &privateClass, sizeof(privateClass)}, {CKA_ID, keyId, keyIdLength},
        {CKA_TOKEN, &yes, sizeof(yes)},                    {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        {CKA_DECRYPT, &yes, sizeof(yes)},                  {CKA_SIGN, &yes, sizeof(yes)},
        {CKA_UNWRAP, &yes, sizeof(yes)},                   {CKA_PRIVATE, &yes, sizeof(yes)}};
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    CK_RV rv = F()->C_GenerateKeyPair(slot.m_hSession, &mechanism, publicTemplate, 9, privateTemplate, 8, &publicKey,
                                      &privateKey);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (!FitsHandle32(publicKey) || !FitsHandle32(privateKey)) return TokenError::NteFail;
    std::vector<uint8_t> modulus;
    rc = m_containers.ReadAttribute(slot.m_hSession, publicKey, CKA_MODULUS, CP11Containers::kMaxModulusBytes, modulus);
    size_t skip = 0;
    while (skip < modulus.size() && modulus[skip] == 0) ++skip;
    m_containers.WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) {
        key.hPublicKey = static_cast<uint32_t>(publicKey);
        key.hPrivateKey = static_cast<uint32_t>(privateKey);
        if (rc == 0 && skip < modulus.size()) {
            key.dwModulusBits = bits;
            key.dwExponent = exponent;
            key.modulus.assign(modulus.begin() + static_cast<std::ptrdiff_t>(skip), modulus.end());
        } else {
            key.dwModulusBits = 0;
            key.modulus.clear();
        }
    });
    return rc;
}

uint32_t CP11Objects::ImportKeyPair(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                    const uint8_t* der, uint32_t length) {
    ChAsymmCtx key;
    RsaHandle handle = nullptr;
    if (RsaImport(&handle, nullptr, kRsaPrivateKeyDer, der, length) != 0) return TokenError::NteBadData;
    key.Attach(handle);
    std::vector<uint8_t> n, e, p, q;
    const bool exported = ExportComponent(key.Get(), kRsaExportN, n) && ExportComponent(key.Get(), kRsaExportE, e) &&
                          ExportComponent(key.Get(), kRsaExportP, p) && ExportComponent(key.Get(), kRsaExportQ, q);
    struct Wipe {
        std::vector<uint8_t>& a;
        std::vector<uint8_t>& b;
        ~Wipe() {
            SecureZero(a.data(), a.size());
            SecureZero(b.data(), b.size());
        }
    } wipe {p, q};
    uint32_t exponent = 0;
    if (!exported || !FoldExponent(e.data(), e.size(), exponent)) return TokenError::NteBadData;

    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    uint8_t keyId[CP11Containers::kKeyIdCapacity];
    uint32_t keyIdLength = sizeof(keyId);
    uint32_t rc = m_containers.MakeKeyId(slot, container, keySpec, keyId, keyIdLength);
    if (rc != 0) return rc;
    rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    rc = DestroyObjectsById(slot, keyId, keyIdLength, true);
    if (rc != 0) return rc;

    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    auto ulen = [](const std::vector<uint8_t>& v) { return static_cast<CK_ULONG>(v.size()); };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_CLASS, &privateClass, sizeof(privateClass)}, {CKA_ID, keyId, keyIdLength},
        {CKA_TOKEN, &yes, sizeof(yes)},                    {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        {CKA_DECRYPT, &yes, sizeof(yes)},                  {CKA_SIGN, &yes, sizeof(yes)},
        {CKA_UNWRAP, &yes, sizeof(yes)},                   {CKA_PRIVATE, &yes, sizeof(yes)},
        {CKA_PUBLIC_EXPONENT, e.data(), ulen(e)},          {CKA_PRIME_1, p.data(), ulen(p)},
        {CKA_PRIME_2, q.data(), ulen(q)}};
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_CLASS, &publicClass, sizeof(publicClass)}, {CKA_ID, keyId, keyIdLength},
        {CKA_TOKEN, &yes, sizeof(yes)},                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        {CKA_WRAP, &yes, sizeof(yes)},                   {CKA_VERIFY, &yes, sizeof(yes)},
        {CKA_ENCRYPT, &yes, sizeof(yes)},                {CKA_MODULUS, n.data(), ulen(n)},
        {CKA_PUBLIC_EXPONENT, e.data(), ulen(e)}};
    CK_OBJECT_HANDLE privateKey = 0;
    CK_OBJECT_HANDLE publicKey = 0;
    CK_RV rv = F()->C_CreateObject(slot.m_hSession, privateTemplate, 11, &privateKey);
    if (rv != CKR_OK) return MapP11Error(rv);
    rv = F()->C_CreateObject(slot.m_hSession, publicTemplate, 9, &publicKey);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (!FitsHandle32(publicKey) || !FitsHandle32(privateKey)) return TokenError::NteFail;
    m_containers.WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& cache) {
        cache.hPublicKey = static_cast<uint32_t>(publicKey);
        cache.hPrivateKey = static_cast<uint32_t>(privateKey);
        cache.dwModulusBits = static_cast<uint32_t>(n.size() * 8);
        cache.dwExponent = exponent;
        cache.modulus = n;
    });
    return 0;
}

uint32_t CP11Objects::WriteCertificate(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                       const uint8_t* cert, uint32_t length) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    uint32_t rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    uint8_t keyId[CP11Containers::kKeyIdCapacity];
    uint32_t keyIdLength = sizeof(keyId);
    rc = m_containers.MakeKeyId(slot, container, keySpec, keyId, keyIdLength);
    if (rc != 0) return rc;
    uint32_t old = 0;
    rc = m_containers.FindCertificate(slot, container, keySpec, old);
    if (rc == 0) {
        std::vector<uint8_t> bytes;
        m_containers.WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) { bytes = key.certificate; });
        if (bytes.empty()) {
            rc = m_containers.ReadAttribute(slot.m_hSession, old, CKA_VALUE, CP11Containers::kMaxCertificateBytes, bytes);
            if (rc != 0) return rc;
        }
        if (bytes.size() == length && std::memcmp(bytes.data(), cert, length) == 0) return 0;
        const CK_RV rv = F()->C_DestroyObject(slot.m_hSession, old);
        if (rv != CKR_OK) return MapP11Error(rv);
        m_containers.WithKeyInfo(slot, container.hContainer, keySpec, [](P11KeyInfo& key) {
            key.hCertificate = kHandleAbsent;
            key.certificate.clear();
        });
    } else if (rc != TokenError::NteNotFound) {
        return rc;
    }
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    uint8_t emptyLabel = 0;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &cls, sizeof(cls)},
                                 {CKA_CERTIFICATE_TYPE, &certType, sizeof(certType)},
                                 {CKA_LABEL, &emptyLabel, 1},
                                 {CKA_TOKEN, &yes, sizeof(yes)},
                                 {CKA_ID, keyId, keyIdLength},
                                 {CKA_VALUE, const_cast<uint8_t*>(cert), length}};
    CK_OBJECT_HANDLE object = 0;
    const CK_RV rv = F()->C_CreateObject(slot.m_hSession, attributes, 6, &object);
    if (rv != CKR_OK) return MapP11Error(rv);
    m_containers.WithKeyInfo(slot, container.hContainer, keySpec, [&](P11KeyInfo& key) {
        key.hCertificate = FitsHandle32(object) ? static_cast<uint32_t>(object) : kHandleUnknown;
        key.certificate.assign(cert, cert + length);
    });
    return 0;
}

uint32_t CP11Objects::RsaRawOperation(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec,
                                      bool usePublic, uint8_t* data, uint32_t length) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    uint32_t publicKey = 0;
    uint32_t rc = m_containers.FindKeyHandle(slot, container, keySpec, true, publicKey);
    if (rc != 0) return rc;
    uint32_t bits = 0;
    rc = m_containers.GetPublicKey(slot, container, keySpec, bits, nullptr, nullptr, nullptr);
    if (rc != 0) return rc;
    if (length != (bits + 7) / 8) return TokenError::NteBadLen;
    uint32_t key = publicKey;
    if (!usePublic) {
        rc = m_containers.FindKeyHandle(slot, container, keySpec, false, key);
        if (rc != 0) return rc;
    }
    rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    CK_MECHANISM mechanism = {CKM_RSA_X_509, nullptr, 0};
    std::vector<uint8_t> out(length);
    // The token's result (a private-key result in clear) is wiped on every way out.
    struct WipeOut {
        std::vector<uint8_t>& bytes;
        ~WipeOut() { SecureZero(bytes.data(), bytes.size()); }
    } wipeOut {out};
    CK_ULONG outLength = length;
    CK_RV rv = usePublic ? F()->C_EncryptInit(slot.m_hSession, &mechanism, key)
                         : F()->C_DecryptInit(slot.m_hSession, &mechanism, key);
    if (rv == CKR_KEY_HANDLE_INVALID || rv == CKR_OBJECT_HANDLE_INVALID) {
        // A cached handle went stale (the token logged out, or was replaced): look the key up
        // again once instead of failing on the old handle.
        m_containers.WithKeyInfo(slot, container.hContainer, keySpec, [](P11KeyInfo& cache) {
            cache.hPublicKey = kHandleUnknown;
            cache.hPrivateKey = kHandleUnknown;
        });
        rc = m_containers.FindKeyHandle(slot, container, keySpec, usePublic, key);
        if (rc != 0) return rc;
        rv = usePublic ? F()->C_EncryptInit(slot.m_hSession, &mechanism, key)
                       : F()->C_DecryptInit(slot.m_hSession, &mechanism, key);
    }
    if (rv != CKR_OK) return MapP11Error(rv);
    rv = usePublic ? F()->C_Encrypt(slot.m_hSession, data, length, out.data(), &outLength)
                   : F()->C_Decrypt(slot.m_hSession, data, length, out.data(), &outLength);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (outLength > length) return TokenError::NteFail;
    // A raw block shorter than the modulus lost its leading zero bytes.
    std::memset(data, 0, length - outLength);
    std::memcpy(data + (length - outLength), out.data(), outLength);
    return 0;
}

uint32_t CP11Objects::ReadPinInfo(P11Slot& slot, uint16_t& pinInfo) {
    if (!m_containers.Binding().IsInitialised()) return TokenError::NteFail;
    CK_TOKEN_INFO info {};
    info.ulMaxPinLen = 0xFFFFFFFF;
    info.ulMinPinLen = 0xFFFFFFFF;
    const CK_RV rv = F()->C_GetTokenInfo(slot.LibrarySlotId(), &info);
    if (rv != CKR_OK) return MapP11Error(rv);
    pinInfo = static_cast<uint16_t>(info.ulMaxPinLen & 0xFFFF);
    return 0;
}

uint32_t CP11Objects::Login(P11Slot& slot, std::string_view pin, bool& loggedIn, uint16_t& pinInfo) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    uint32_t rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    CK_RV rv = F()->C_Login(slot.m_hSession, CKU_USER, Bytes(pin), static_cast<CK_ULONG>(pin.size()));
    if (rv == CKR_USER_ALREADY_LOGGED_IN) {
        // The token is logged in already (by this or another caller): the PIN given must still be
        // proven, so the login is made afresh.
        F()->C_Logout(slot.m_hSession);
        rv = F()->C_Login(slot.m_hSession, CKU_USER, Bytes(pin), static_cast<CK_ULONG>(pin.size()));
    }
    rc = MapP11Error(rv);
    if (rc == TokenError::ScardWrongChv || rc == TokenError::ScardChvBlocked) {
        loggedIn = false;
    } else if (rc != 0) {
        return rc;
    } else {
        loggedIn = true;
    }
    return ReadPinInfo(slot, pinInfo);
}

uint32_t CP11Objects::GetLoginState(P11Slot& slot, bool& loggedIn, uint16_t& pinInfo) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    const uint32_t rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    CK_SESSION_INFO info {};
    const CK_RV rv = F()->C_GetSessionInfo(slot.m_hSession, &info);
    if (rv != CKR_OK) return MapP11Error(rv);
    loggedIn = info.state == CKS_RW_USER_FUNCTIONS;
    return ReadPinInfo(slot, pinInfo);
}

uint32_t CP11Objects::ChangePin(P11Slot& slot, std::string_view oldPin, std::string_view newPin) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    const uint32_t rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    return MapP11Error(F()->C_SetPIN(slot.m_hSession, Bytes(oldPin), static_cast<CK_ULONG>(oldPin.size()),
                                     Bytes(newPin), static_cast<CK_ULONG>(newPin.size())));
}

uint32_t CP11Objects::UnblockPin(P11Slot& slot, std::string_view soPin, std::string_view newPin) {
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    const uint32_t rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    // A user still logged in would keep the security officer out.
    F()->C_Logout(slot.m_hSession);
    CK_RV rv = F()->C_Login(slot.m_hSession, CKU_SO, Bytes(soPin), static_cast<CK_ULONG>(soPin.size()));
    if (rv != CKR_OK) return MapP11Error(rv);
    rv = F()->C_InitPIN(slot.m_hSession, Bytes(newPin), static_cast<CK_ULONG>(newPin.size()));
    // The security officer is logged out again on every way on: a token-wide SO login must not
    // outlive this request, and the user login that follows needs it gone.
    F()->C_Logout(slot.m_hSession);
    if (rv != CKR_OK) return MapP11Error(rv);
    rv = F()->C_Login(slot.m_hSession, CKU_USER, Bytes(newPin), static_cast<CK_ULONG>(newPin.size()));
    return MapP11Error(rv);
}

uint32_t CP11Objects::InitToken(P11Slot& slot, bool withPins, std::string_view soPin, std::string_view userPin) {
    if (!m_containers.Binding().IsInitialised()) return TokenError::NteFail;
    std::lock_guard<std::recursive_mutex> session(slot.m_sessionLock);
    m_containers.StopEnumeration(slot);
    m_containers.CloseSession(slot);
    m_containers.ClearContainers(slot);
    CK_TOKEN_INFO info {};
    CK_RV rv = F()->C_GetTokenInfo(slot.LibrarySlotId(), &info);
    if (rv != CKR_OK) return MapP11Error(rv);
    if (!withPins) {
        // No PIN: the library authenticates in its own way (a protected authentication path).
        return MapP11Error(F()->C_InitToken(slot.LibrarySlotId(), nullptr, 0, info.label));
    }
    rv = F()->C_InitToken(slot.LibrarySlotId(), Bytes(soPin), static_cast<CK_ULONG>(soPin.size()), info.label);
    if (rv != CKR_OK) return MapP11Error(rv);
    const uint32_t rc = m_containers.EnsureSession(slot);
    if (rc != 0) return rc;
    rv = F()->C_Login(slot.m_hSession, CKU_SO, Bytes(soPin), static_cast<CK_ULONG>(soPin.size()));
    if (rv != CKR_OK) return MapP11Error(rv);
    rv = F()->C_InitPIN(slot.m_hSession, Bytes(userPin), static_cast<CK_ULONG>(userPin.size()));
    const CK_RV logout = F()->C_Logout(slot.m_hSession);
    if (rv != CKR_OK) return MapP11Error(rv);
    return MapP11Error(logout);
}

}  // namespace corvane
