#include "relayed_logon.h"

#include <cstring>

#include "wire/byte_order.h"
#include "wire/companion_contract.h"
#include "wire/msg_header.h"

namespace corvane::logon {

namespace {
constexpr size_t kFixedSize = 8;

void AppendZ(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// The NUL-terminated string at `offset`, which moves past its NUL; nothing when the NUL is
// missing.
std::optional<std::string> ReadZ(const uint8_t* p, size_t size, size_t& offset) {
    const void* nul = offset < size ? std::memchr(p + offset, 0, size - offset) : nullptr;
    if (nul == nullptr) return std::nullopt;
    const size_t end = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
    std::string text(reinterpret_cast<const char*>(p + offset), end - offset);
    offset = end + 1;
    return text;
}
}  // namespace

std::vector<uint8_t> BuildRelayedLogon(const RelayedLogon& request) {
    std::vector<uint8_t> m(MsgHeader::kSize + kFixedSize, 0);
    WriteU32(m.data() + MsgHeader::kSize, static_cast<uint32_t>(request.logonOption));
    WriteU32(m.data() + MsgHeader::kSize + 4, static_cast<uint32_t>(request.delay));
    AppendZ(m, request.user);
    AppendZ(m, request.domain);
    AppendZ(m, request.deviceName);
    MsgHeader {request.code, static_cast<uint16_t>(m.size() - MsgHeader::kSize), 0}.Encode(m.data());
    return m;
}

std::optional<RelayedLogon> ParseRelayedLogon(const uint8_t* message, size_t size) {
    const auto header = MsgHeader::Decode(message, size);
    if (!header || !header->MatchesSize(size) || header->length < kFixedSize + 3) return std::nullopt;
    if (header->code != kRelayedLogon && header->code != kRelayedUnlock && header->code != kRelayedRelogon) {
        return std::nullopt;
    }
    const uint8_t* p = message + MsgHeader::kSize;
    const size_t length = header->length;
    RelayedLogon out;
    out.code = header->code;
    out.logonOption = static_cast<int32_t>(ReadU32(p));
    out.delay = static_cast<int32_t>(ReadU32(p + 4));
    size_t offset = kFixedSize;
    auto user = ReadZ(p, length, offset);
    auto domain = user ? ReadZ(p, length, offset) : std::nullopt;
    auto name = domain ? ReadZ(p, length, offset) : std::nullopt;
    if (!name || offset != length) return std::nullopt;
    out.user = *user;
    out.domain = *domain;
    out.deviceName = *name;
    return out;
}

std::optional<RelayEnvelope> ParseRelayEnvelope(const uint8_t* message, size_t size) {
    const auto header = MsgHeader::Decode(message, size);
    if (!header || !header->MatchesSize(size) || header->code != Contract::kRelayEnvelope ||
        header->length < kRelayDeviceIdSize + MsgHeader::kSize) {
        return std::nullopt;
    }
    const uint8_t* slot = message + MsgHeader::kSize;
    RelayEnvelope out;
    out.deviceId.assign(reinterpret_cast<const char*>(slot), strnlen(reinterpret_cast<const char*>(slot), kRelayDeviceIdSize));
    out.request.assign(slot + kRelayDeviceIdSize, message + size);
    return out;
}

uint16_t ReportOperation(uint16_t code) {
    switch (code) {
        case kRelayedLogon: return 1;
        case kRelayedUnlock: return 2;
        case kRelayedRelogon: return 3;
        default: return 0;
    }
}

}  // namespace corvane::logon
