// The operations that change what is on a token or act with its keys, on behalf of the CSP:
// containers, key generation and import, certificates, the raw RSA operation, PINs and token
// initialisation. Each is a short fixed sequence of PKCS#11 calls with fixed attribute
// templates; the container caches are kept up to date through the container layer.
#pragma once

#include <cstdint>
#include <string_view>

#include "token/p11_containers.h"

namespace corvane {

class CP11Objects {
public:
    explicit CP11Objects(CP11Containers& containers);

    uint32_t CreateContainer(P11Slot& slot, std::string_view name, uint32_t& handle);
    uint32_t DeleteContainer(P11Slot& slot, uint32_t handle);
    uint32_t GenerateKeyPair(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, uint32_t bits,
                             uint32_t exponent);
    uint32_t ImportKeyPair(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, const uint8_t* der,
                           uint32_t length);
    uint32_t WriteCertificate(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, const uint8_t* cert,
                              uint32_t length);
    // The block must be exactly the modulus length; the result replaces it.
    uint32_t RsaRawOperation(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, bool usePublic,
                             uint8_t* data, uint32_t length);

    // PINs are passed as their bytes; the callers wipe them after use.
    uint32_t Login(P11Slot& slot, std::string_view pin, bool& loggedIn, uint16_t& pinInfo);
    uint32_t GetLoginState(P11Slot& slot, bool& loggedIn, uint16_t& pinInfo);
    uint32_t ChangePin(P11Slot& slot, std::string_view oldPin, std::string_view newPin);
    uint32_t UnblockPin(P11Slot& slot, std::string_view soPin, std::string_view newPin);
    // With PINs, or (withPins false) through the token's own way of authenticating.
    uint32_t InitToken(P11Slot& slot, bool withPins, std::string_view soPin, std::string_view userPin);

private:
    // Destroys the RSA keys (and, unless keysOnly, the X.509 certificates) whose CKA_ID is `id`.
    uint32_t DestroyObjectsById(P11Slot& slot, const uint8_t* id, uint32_t length, bool keysOnly);
    uint32_t ReadPinInfo(P11Slot& slot, uint16_t& pinInfo);
    CK_FUNCTION_LIST* F() const { return m_containers.F(); }

    CP11Containers& m_containers;
};

}  // namespace corvane
