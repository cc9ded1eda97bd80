// The key containers of the tokens: for every slot with a token, the list of its containers
// (vendor-class objects named by their label), filled in the background when the token arrives,
// with a cache of each container's key and certificate objects; lookups of containers, keys,
// public keys and certificates.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "token/p11_binding.h"
#include "token/p11_slot.h"
#include "wire/reply_arena.h"

namespace corvane {

class CP11Containers final : public IP11SlotWork {
public:
    // Labels of 256 bytes or more do not fit a container name.
    static constexpr CK_ULONG kLabelCapacity = 255;
    // Largest modulus and certificate the layer reads from a token.
    static constexpr CK_ULONG kMaxModulusBytes = 8192;
    static constexpr CK_ULONG kMaxCertificateBytes = 65535 - 16;
    static constexpr size_t kKeyIdCapacity = 256;

    explicit CP11Containers(CP11Binding& binding);

    // Session and enumeration (driven by the binding as tokens come and go).
    uint32_t EnsureSession(P11Slot& slot) override;
    uint32_t StartEnumeration(P11Slot& slot) override;
    void StopEnumeration(P11Slot& slot) override;
    void ClearContainers(P11Slot& slot) override;
    void CloseSession(P11Slot& slot) override;

    // The container list.
    uint32_t AddContainer(P11Slot& slot, const ContainerInfo& info);
    void RemoveContainer(P11Slot& slot, uint32_t handle);
    uint32_t GetContainerByIndex(P11Slot& slot, uint32_t index, ContainerInfo* info);
    uint32_t FindContainerByName(P11Slot& slot, std::string_view name, ContainerInfo* info);
    uint32_t GetContainerByHandle(P11Slot& slot, uint32_t handle, ContainerInfo* info);
    // Runs `visit` on the cache of a listed container's key pair under the container mutex
    // (no library call may be made inside). False when the container is not listed.
    bool WithKeyInfo(P11Slot& slot, uint32_t container, uint32_t keySpec, const std::function<void(P11KeyInfo&)>& visit);

    // Token reads.
    uint32_t ReadLabel(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, char* buffer, CK_ULONG& length);
    uint32_t MakeKeyId(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, uint8_t* buffer,
                       uint32_t& length);
    uint32_t FindKeyHandle(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, bool wantPublic,
                           uint32_t& handle);
    // Bits, and when asked for the exponent and the modulus (big-endian, (bits + 7) / 8 bytes,
    // in a block of `arena`).
    uint32_t GetPublicKey(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, uint32_t& bits,
                          uint32_t* exponent, const uint8_t** modulus, ReplyArena* arena);
    uint32_t FindCertificate(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, uint32_t& handle);
    uint32_t ReadCertificate(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, const uint8_t*& bytes,
                             uint32_t& length, ReplyArena& arena);
    // Whether the token's user is logged in (through the working session).
    bool UserLoggedIn(P11Slot& slot);
    // The user principal name of the certificate cached for the key pair; empty when none.
    std::u16string GetCertificateUpn(P11Slot& slot, uint32_t container, uint32_t keySpec);
    // Reads an attribute whose length is asked first: at most `maxLength` bytes.
    uint32_t ReadAttribute(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type,
                           CK_ULONG maxLength, std::vector<uint8_t>& value);

    // The user principal name in a DER certificate, or empty (filled by the composition root with
    // the certificate reader; tests fill it with their own).
    std::function<std::u16string(const uint8_t* der, size_t length)> GetCertificateUpnText;

    CP11Binding& Binding() { return m_binding; }
    CK_FUNCTION_LIST* F() const { return m_binding.Functions(); }
    // A fresh handle to the slot's container mutex.
    MutexHandle ContainerMutex(const P11Slot& slot);

private:
    void EnumerationThread(P11Slot& slot);
    uint32_t EnumerateContainers(P11Slot& slot);
    uint32_t SearchContainerOnToken(P11Slot& slot, std::string_view name, ContainerInfo* info);
    void ClearContainersLocked(P11Slot& slot);
    // Waits while an enumeration runs for the entry chosen by `pick`.
    uint32_t WaitForEntry(P11Slot& slot, const std::function<P11Container*(P11Slot&)>& pick, uint32_t missing,
                          ContainerInfo* info);
    uint32_t FindObjectOfPair(P11Slot& slot, const ContainerInfo& container, uint32_t keySpec, CK_OBJECT_CLASS cls,
                              uint32_t& handle);

    CP11Binding& m_binding;
};

// Folds big-endian bytes into a u32; false when more than four significant bytes.
bool FoldExponent(const uint8_t* bytes, size_t length, uint32_t& value);

}  // namespace corvane
