// Handles of the crypto library: the address of a context record plus a fixed bias per family.
// A record ends with a pointer to itself. Before an operation reads a record it checks that the
// record is one of the live records of that family, so a stale handle (its record destroyed) or
// a handle of another family is refused with -104 without touching memory the handle does not
// own. The table holds only the addresses of live records.
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_set>

namespace corvane {

constexpr uintptr_t kCipherHandleBias = 0x2CF10;
constexpr uintptr_t kDigestHandleBias = 0x13148;
constexpr uintptr_t kRsaHandleBias = 0x3DD34;

class CHandleTable {
public:
    // False when the table cannot grow.
    bool Add(const void* record);
    void Remove(const void* record);
    bool Contains(const void* record) const;

private:
    mutable std::mutex m_mutex;
    std::unordered_set<const void*> m_live;
};

// One table per handle family. A table only mirrors which records exist; it carries no other state.
CHandleTable& CipherHandleTable();
CHandleTable& DigestHandleTable();
CHandleTable& RsaHandleTable();

// Turns a record into its handle and back. FromHandle returns null unless the handle designates a
// live record of the family whose self field holds its own address.
template <typename Handle, typename Record>
Handle ToHandle(Record* record, uintptr_t bias) {
    return reinterpret_cast<Handle>(reinterpret_cast<uintptr_t>(record) + bias);
}

template <typename Record, typename Handle>
Record* FromHandle(Handle handle, uintptr_t bias, const CHandleTable& table) {
    if (!handle) return nullptr;
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < bias) return nullptr;
    auto* record = reinterpret_cast<Record*>(value - bias);
    if (!table.Contains(record)) return nullptr;
    return record->m_pSelf == record ? record : nullptr;
}

}  // namespace corvane
