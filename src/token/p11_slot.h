// The records of the slot table: one P11Slot per library slot, with its token state, its working
// session and the list of the token's key containers with their key and certificate caches.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/csp_containers.h"
#include "platform/named_mutex.h"
#include "token/pkcs11.h"

namespace corvane {

// What container lookups return and the CSP is sent: the container object's handle and its name
// (NUL-terminated, at most 255 bytes).
struct ContainerInfo {
    static constexpr size_t kNameSize = 256;
    uint32_t hContainer = 0;
    char szName[kNameSize] = {};

    std::string_view Name() const;
    // False (and nothing changed) when the name does not fit with its terminator.
    bool SetName(std::string_view name);
};

// Key specs: the CryptoAPI kind of a key pair (kAtKeyExchange, kAtSignature).
inline bool IsKeySpec(uint32_t keySpec) { return keySpec == kAtKeyExchange || keySpec == kAtSignature; }

// Cache of one key pair's objects. Handle fields: kHandleUnknown, kHandleAbsent or the handle.
struct P11KeyInfo {
    uint32_t hPrivateKey = kHandleUnknown;
    uint32_t hPublicKey = kHandleUnknown;
    uint32_t dwModulusBits = 0;
    uint32_t dwExponent = 0;  // valid when dwModulusBits is not 0
    std::vector<uint8_t> modulus;  // big-endian, no leading zero bytes
    uint32_t hCertificate = kHandleUnknown;
    std::vector<uint8_t> certificate;  // DER; empty until cached
};

struct P11Container {
    ContainerInfo info;
    P11KeyInfo signature;
    P11KeyInfo exchange;
    P11KeyInfo& Key(uint32_t keySpec) { return keySpec == kAtSignature ? signature : exchange; }
};

// The slot entry of the token protocol: the first four fields of a slot record, 92 bytes.
struct SlotEntry {
    static constexpr size_t kSize = 92;
    static constexpr size_t kDescriptionOffset = 8;
    static constexpr size_t kDescriptionSize = 68;
    static constexpr size_t kSerialOffset = 76;
    static constexpr size_t kSerialSize = 16;
};

class P11Slot {
public:
    P11Slot() = default;
    P11Slot(const P11Slot&) = delete;
    P11Slot& operator=(const P11Slot&) = delete;

    // The entry fields, read and written under the record lock (they are set by the slot refresh
    // and the presence handling and read by request threads).
    uint32_t SlotId() const;  // the slot id as the token protocol carries it
    CK_SLOT_ID LibrarySlotId() const;
    bool TokenPresent() const;
    std::string_view Description() const { return std::string_view(m_szDescription); }  // fixed once listed
    void GetSerial(uint8_t serial[SlotEntry::kSerialSize]) const;
    void SetSerial(const uint8_t serial[SlotEntry::kSerialSize]);
    bool SerialKnown() const;
    void SetTokenPresent(bool present);
    // Writes the 92-byte slot entry.
    void EncodeEntry(uint8_t* out) const;
    // Fills a freshly listed record: slot id and the description (trailing blanks removed).
    void Fill(CK_SLOT_ID slotId, const uint8_t* description, size_t descriptionSize);

    MutexHandle SlotMutexHandle() const;
    MutexHandle ContainerMutexHandle() const;
    void SetSlotMutexHandle(MutexHandle handle);
    void SetContainerMutexHandle(MutexHandle handle);

    // The working session. Calls on it are serialised by the session lock: a PKCS#11 session
    // carries one operation at a time (an encrypt or decrypt is an Init call and a second call),
    // and the service's request threads share it, so two requests must never interleave on it.
    // Recursive, because an operation holds it across the lookups it makes.
    std::recursive_mutex m_sessionLock;
    CK_SESSION_HANDLE m_hSession = 0;  // guarded by m_sessionLock

    // The container list and the enumeration state, guarded by the slot's container mutex.
    std::vector<P11Container> m_containers;
    std::atomic<uint32_t> m_bRunning {0};
    std::atomic<uint32_t> m_bStopRequested {0};
    std::atomic<uint32_t> m_bDone {0};
    std::atomic<uint32_t> m_dwLastResult {0};
    std::atomic<uint32_t> m_bThreadEnded {0};  // set by an enumeration thread as it ends

private:
    mutable std::mutex m_recordLock;
    CK_SLOT_ID m_dwSlotId = 0;
    uint32_t m_dwTokenPresent = 0;
    char m_szDescription[SlotEntry::kDescriptionSize] = {};
    uint8_t m_tokenSerial[SlotEntry::kSerialSize] = {};
    MutexHandle m_hSlotMutex;
    MutexHandle m_hContainerMutex;
};

}  // namespace corvane
