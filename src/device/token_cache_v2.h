// The phone token cache kept from the container lists the phone pushes: the phone announces its
// whole container set with key and certificate versions, the cache keeps the last list as a raw
// image (rebuilt after every local change) and learns public keys and certificates from replies.
// Not thread-safe: its owner serialises every call.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/container_list.h"
#include "device/phone_token_message.h"
#include "platform/clock.h"

namespace corvane {

// Reads the user principal name (UTF-8) of a DER certificate; false when it has none or cannot
// be decoded. The service passes the certificate layer's reader.
using CertificateUpnReader = std::function<bool(const uint8_t* der, size_t size, std::string& upn)>;

struct ContainerKey {
    uint8_t m_bKeyVersion = 0;  // 0: no key; else 1..255, changes with the key
    uint8_t m_bKeyVersionAtRequest = 0;
    uint32_t m_dwBits = 0;  // 0: not cached
    std::vector<uint8_t> m_modulus;
    uint32_t m_dwExponent = 0;
    uint8_t m_bCertVersion = 0;  // 0: no certificate; else 1..255
    uint8_t m_bCertVersionAtRequest = 0;
    std::vector<uint8_t> m_cert;  // empty: not cached
    std::optional<std::string> m_strUpn;

    void DropPublicKey() { m_dwBits = 0; m_dwExponent = 0; m_modulus.clear(); }
    void DropCertificate() { m_cert.clear(); }
};

struct CDevContainer {
    uint32_t m_dwSeenTick = 0;
    uint64_t m_seenUpdate = 0;  // which list update last named it
    uint32_t m_dwHandle = 0;
    std::string m_strName;
    ContainerKey m_exchangeKey;
    ContainerKey m_signatureKey;

    ContainerKey& KeyOf(uint32_t keySpec) { return keySpec == kKeySpecExchange ? m_exchangeKey : m_signatureKey; }
};

class CTokenCacheV2 {
public:
    CTokenCacheV2(IClock& clock, CertificateUpnReader upnReader)
        : m_clock(clock), m_upnReader(std::move(upnReader)) {}

    // A container list from the phone (header and payload): 0 or the error the phone is told.
    uint32_t UpdateContainerList(const uint8_t* message, size_t size);
    void Clear();
    void SetContainerListMode() { m_dwContainerListMode = 1; }

    bool ContainerListMode() const { return m_dwContainerListMode != 0; }
    bool HasImage() const { return !m_rawImage.empty(); }
    const std::vector<uint8_t>& RawImage() const { return m_rawImage; }
    const std::vector<CDevContainer>& Containers() const { return m_containers; }
    const std::vector<uint32_t>& ContainerOrder() const { return m_containerOrder; }

    // As the variant-1 cache; both forward (or ignore) while no image exists.
    uint32_t AnswerFromCache(const TokenMessage& request, ReplyArena& arena, uint8_t** reply, size_t* replySize);
    uint32_t UpdateCache(const TokenMessage& request, const TokenMessage& reply);
    // A changing request that got no readable reply. A key or certificate that may have changed
    // gets a new version with nothing cached (so it is asked of the phone, and a listener of the
    // image sees the change); a deletion or initialisation that may have happened drops the whole
    // image until the phone's next list.
    void ForgetUnansweredChange(const TokenMessage& request);

private:
    CDevContainer* FindByHandle(uint32_t handle);
    CDevContainer* FindByName(std::string_view name);
    ContainerKey* FindKey(const TokenMessage& request);
    void Rebuild();
    void PruneOrder();
    uint32_t StoreCertificate(ContainerKey& key, const uint8_t* der, size_t size);

    uint32_t AnswerEnumerate(const TokenMessage& request, ReplyArena& arena, uint8_t** reply, size_t* replySize);
    uint32_t AnswerByName(const TokenMessage& request, ReplyArena& arena, uint8_t** reply, size_t* replySize);
    uint32_t AnswerPublicKey(const TokenMessage& request, ReplyArena& arena, uint8_t** reply, size_t* replySize);
    uint32_t AnswerCertificate(const TokenMessage& request, ReplyArena& arena, uint8_t** reply, size_t* replySize);

    uint32_t UpdateCreated(const TokenMessage& request, const TokenMessage& reply);
    uint32_t UpdateDeleted(const TokenMessage& request, const TokenMessage& reply);
    uint32_t UpdateGenerated(ContainerKey& key, const TokenMessage& reply);
    uint32_t UpdatePublicKey(ContainerKey& key, const TokenMessage& reply);
    uint32_t UpdateImported(ContainerKey& key, const TokenMessage& request, const TokenMessage& reply);
    uint32_t UpdateWritten(ContainerKey& key, const TokenMessage& request, const TokenMessage& reply);
    uint32_t UpdateRead(ContainerKey& key, const TokenMessage& reply);

    IClock& m_clock;
    CertificateUpnReader m_upnReader;
    uint32_t m_dwContainerListMode = 0;
    std::vector<uint8_t> m_rawImage;  // header and payload of the last list, or empty
    std::vector<uint32_t> m_containerOrder;
    std::vector<CDevContainer> m_containers;
    uint64_t m_listUpdates = 0;
};

}  // namespace corvane
