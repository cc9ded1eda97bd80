#include "token/p11_slot.h"

#include <algorithm>
#include <cstring>

#include "wire/byte_order.h"

namespace corvane {

std::string_view ContainerInfo::Name() const { return std::string_view(szName, strnlen(szName, kNameSize)); }

bool ContainerInfo::SetName(std::string_view name) {
    if (name.size() >= kNameSize) return false;
    std::memset(szName, 0, kNameSize);
    std::memcpy(szName, name.data(), name.size());
    return true;
}

uint32_t P11Slot::SlotId() const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    return static_cast<uint32_t>(m_dwSlotId);
}

CK_SLOT_ID P11Slot::LibrarySlotId() const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    return m_dwSlotId;
}

bool P11Slot::TokenPresent() const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    return m_dwTokenPresent != 0;
}

void P11Slot::SetTokenPresent(bool present) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_dwTokenPresent = present ? 1 : 0;
}

void P11Slot::GetSerial(uint8_t serial[SlotEntry::kSerialSize]) const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    std::memcpy(serial, m_tokenSerial, SlotEntry::kSerialSize);
}

void P11Slot::SetSerial(const uint8_t serial[SlotEntry::kSerialSize]) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    std::memcpy(m_tokenSerial, serial, SlotEntry::kSerialSize);
}

bool P11Slot::SerialKnown() const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    return std::any_of(std::begin(m_tokenSerial), std::end(m_tokenSerial), [](uint8_t b) { return b != 0; });
}

void P11Slot::EncodeEntry(uint8_t* out) const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    WriteU32(out, static_cast<uint32_t>(m_dwSlotId));
    WriteU32(out + 4, m_dwTokenPresent);
    std::memcpy(out + SlotEntry::kDescriptionOffset, m_szDescription, SlotEntry::kDescriptionSize);
    std::memcpy(out + SlotEntry::kSerialOffset, m_tokenSerial, SlotEntry::kSerialSize);
}

void P11Slot::Fill(CK_SLOT_ID slotId, const uint8_t* description, size_t descriptionSize) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_dwSlotId = slotId;
    m_dwTokenPresent = 0;
    std::memset(m_tokenSerial, 0, sizeof(m_tokenSerial));
    std::memset(m_szDescription, 0, sizeof(m_szDescription));
    size_t length = std::min<size_t>(descriptionSize, 64);
    while (length > 0 && description[length - 1] == ' ') --length;
    std::memcpy(m_szDescription, description, length);
}

MutexHandle P11Slot::SlotMutexHandle() const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    return m_hSlotMutex;
}
MutexHandle P11Slot::ContainerMutexHandle() const {
    std::lock_guard<std::mutex> lock(m_recordLock);
    return m_hContainerMutex;
}
void P11Slot::SetSlotMutexHandle(MutexHandle handle) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_hSlotMutex = std::move(handle);
}
void P11Slot::SetContainerMutexHandle(MutexHandle handle) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_hContainerMutex = std::move(handle);
}

}  // namespace corvane
