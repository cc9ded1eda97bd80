// The container list a phone pushes: the token information block, a u16 count, then per container
// its u32 handle, its name and NUL, and for key spec 1 then 2 the key version, the certificate
// version and the user principal name with its NUL. Packed, no alignment; the payload ends exactly
// after the last entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/phone_token_message.h"

namespace corvane {

constexpr size_t kContainerListHeadSize = kTokenInfoSize + 2;

struct ContainerListKey {
    uint8_t keyVersion = 0;
    uint8_t certVersion = 0;
    std::string upn;
};

struct ContainerListEntry {
    uint32_t handle = 0;
    std::string name;
    std::array<ContainerListKey, 2> keys;  // key spec 1, key spec 2
};

struct ContainerListContent {
    std::array<uint8_t, kTokenInfoSize> tokenInfo {};
    uint16_t count = 0;
    std::vector<ContainerListEntry> entries;
};

// Parses a list payload. 0 when the entries fill the payload exactly and match the count;
// NTE_BAD_LEN when a field would run past the payload, a name is longer than 255 bytes or the
// payload is too short for its head; NTE_BAD_DATA when the count differs from the entries.
// Never reads beyond size.
uint32_t ParseContainerList(const uint8_t* payload, size_t size, ContainerListContent& content);

// Appends one entry's bytes to out.
void AppendContainerListEntry(std::vector<uint8_t>& out, const ContainerListEntry& entry);

}  // namespace corvane
