#include "device/container_list.h"

#include <cstring>

#include "wire/byte_order.h"

namespace corvane {

namespace {

// A bounded reader over the payload: every read checks the bytes left first.
class ListReader {
public:
    ListReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool AtEnd() const { return m_offset == m_size; }
    bool U8(uint8_t& value) {
        if (m_size - m_offset < 1) return false;
        value = m_data[m_offset++];
        return true;
    }
    bool U32(uint32_t& value) {
        if (m_size - m_offset < 4) return false;
        value = ReadU32(m_data + m_offset);
        m_offset += 4;
        return true;
    }
    // A NUL-terminated string of at most maxLength bytes.
    bool Text(std::string& value, size_t maxLength) {
        const size_t left = m_size - m_offset;
        const void* nul = std::memchr(m_data + m_offset, 0, left);
        if (nul == nullptr) return false;
        const size_t length = static_cast<const uint8_t*>(nul) - (m_data + m_offset);
        if (length > maxLength) return false;
        value.assign(reinterpret_cast<const char*>(m_data + m_offset), length);
        m_offset += length + 1;
        return true;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

}  // namespace

uint32_t ParseContainerList(const uint8_t* payload, size_t size, ContainerListContent& content) {
    content = ContainerListContent {};
    if (payload == nullptr || size < kContainerListHeadSize) return TokenError::NteBadLen;
    std::memcpy(content.tokenInfo.data(), payload, kTokenInfoSize);
    content.count = ReadU16(payload + kTokenInfoSize);
    ListReader reader(payload + kContainerListHeadSize, size - kContainerListHeadSize);
    while (!reader.AtEnd()) {
        ContainerListEntry entry;
        if (!reader.U32(entry.handle) || !reader.Text(entry.name, kMaxContainerName)) return TokenError::NteBadLen;
        for (auto& key : entry.keys) {
            if (!reader.U8(key.keyVersion) || !reader.U8(key.certVersion) || !reader.Text(key.upn, size))
                return TokenError::NteBadLen;
        }
        content.entries.push_back(std::move(entry));
    }
    if (content.entries.size() != content.count) return TokenError::NteBadData;
    return 0;
}

void AppendContainerListEntry(std::vector<uint8_t>& out, const ContainerListEntry& entry) {
    uint8_t handle[4];
    WriteU32(handle, entry.handle);
    out.insert(out.end(), handle, handle + 4);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    out.push_back(0);
    for (const auto& key : entry.keys) {
        out.push_back(key.keyVersion);
        out.push_back(key.certVersion);
        out.insert(out.end(), key.upn.begin(), key.upn.end());
        out.push_back(0);
    }
}

}  // namespace corvane
