// The companion CSP's stand-in: a network phone's container "\\?\{device id}\{container name}" is
// the folder csp/<device id>/<container name>/ of the key store, holding key.pem (the container's
// one RSA key, for either key spec) and cert.pem (its certificate, PEM or DER), so that a test or
// an administrator can drop in keys and certificates made by any tool. A Bluetooth phone's
// container "\\B\{id}\{name}" lives on the phone: the stand-in asks the phone's token through the
// service's stream channel (posix_csp_relay.h), as the companion CSP does: the container by name
// (0x2003), the key's public part (0x2022), its certificate (0x2032), and a signature made by
// the phone's raw private-key operation (0x2024) on a PKCS#1 v1.5 block built here.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/csp_containers.h"
#include "platform/posix/posix_csp_relay.h"

namespace corvane::posix {

class PosixCspStandIn final : public ICspContainers {
public:
    // `relayPort`: the service's stream channel port on 127.0.0.1, for the Bluetooth phones.
    explicit PosixCspStandIn(std::string storeDir, uint16_t relayPort = kCspRelayDefaultPort);
    ~PosixCspStandIn() override;

    uint32_t AcquireContext(CryptProvHandle& prov, std::u16string_view container, std::u16string_view provider,
                            uint32_t providerType, uint32_t flags) override;
    uint32_t GetUserKey(CryptProvHandle prov, uint32_t keySpec, CryptKeyHandle& key) override;
    uint32_t GetKeyParam(CryptKeyHandle key, uint32_t param, std::vector<uint8_t>& value) override;
    uint32_t SetKeyParam(CryptKeyHandle key, uint32_t param, const uint8_t* value) override;
    uint32_t CreateHash(CryptProvHandle prov, uint32_t algorithm, CryptHashHandle& hash) override;
    uint32_t SetHashParam(CryptHashHandle hash, uint32_t param, const uint8_t* value) override;
    uint32_t SignHash(CryptHashHandle hash, uint32_t keySpec, uint32_t flags, std::vector<uint8_t>& signature) override;
    uint32_t DestroyHash(CryptHashHandle hash) override;
    uint32_t DestroyKey(CryptKeyHandle key) override;
    uint32_t ReleaseContext(CryptProvHandle prov) override;

    // The folder of a container path, or empty when the path names no network phone's container.
    // Exposed for the tests.
    std::string ContainerFolder(std::u16string_view container) const;

private:
    struct Object;
    uintptr_t Add(std::unique_ptr<Object> object);
    Object* Find(uintptr_t handle, int kind);
    uint32_t AcquirePhoneContainer(CryptProvHandle& prov, std::u16string_view rest);
    uint32_t PhoneKeyBits(const Object& context, uint32_t keySpec, uint32_t& bits);
    uint32_t PhoneSign(const Object& context, uint32_t keySpec, const std::vector<uint8_t>& data,
                       std::vector<uint8_t>& signature);

    std::string m_storeDir;
    PosixCspRelay m_relay;
    std::mutex m_mutex;
    uintptr_t m_nextHandle = 1;
    std::map<uintptr_t, std::unique_ptr<Object>> m_objects;
};

}  // namespace corvane::posix
