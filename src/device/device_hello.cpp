#include "device/device_hello.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "wire/byte_order.h"
#include "wire/result_codes.h"

namespace corvane {

namespace {


// Length of the NUL-terminated text at `offset` of the data area. The byte just behind the data
// area counts as a NUL (received messages always carry two zero bytes there); nothing past it is
// read. False when the offset lies beyond that byte.
bool TextLength(const uint8_t* data, size_t dataSize, size_t offset, size_t& length) {
    if (offset > dataSize) return false;
    const uint8_t* start = data + offset;
    const void* nul = std::memchr(start, 0, dataSize - offset);
    length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - start) : dataSize - offset;
    return true;
}

bool Outside(size_t at, size_t begin, size_t end) { return at < begin || at > end; }

// The placement rule shared by the hello and its reply: neither text starts inside the other
// text or inside the key, and the payload ends exactly where the last item ends.
bool FrameHolds(size_t a, size_t endA, size_t b, size_t endB, size_t key, size_t endKey, size_t length) {
    return Outside(a, b, endB) && Outside(a, key, endKey) && Outside(b, a, endA) && Outside(b, key, endKey) &&
           length == HelloLayout::kData + std::max({endA, endB, endKey});
}

void AppendText(std::vector<uint8_t>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

void PutFixed(std::vector<uint8_t>& out, std::string_view idText) {
    WriteU16(out.data() + HelloLayout::kVersion, HelloLayout::kVersion2);
    // A text that does not fit the 40-byte slot is sent as all zeros.
    if (idText.size() <= HelloLayout::kIdSize) std::memcpy(out.data() + HelloLayout::kId, idText.data(), idText.size());
}

}  // namespace

uint32_t ParseDeviceHello(const uint8_t* payload, size_t length, DeviceHelloRequest& out) {
    using namespace HelloLayout;
    if (payload == nullptr || length < kMinLength) return Result::NteBadData;
    if (ReadU16(payload + kVersion) != kVersion2) return Result::NteBadType;

    // The device ID must end inside its slot and fit 39 characters; an empty one names nobody.
    const uint8_t* idSlot = payload + kId;
    if (std::memchr(idSlot, 0, kIdSize) == nullptr || idSlot[0] == 0) return Result::NteBadData;
    out.deviceId = Utf8SlotToUtf16(idSlot, kIdSize);
    if (out.deviceId.empty() || out.deviceId.size() + 1 > kIdSize) return Result::NteBadData;

    const uint8_t* data = payload + kData;
    const size_t dataSize = length - kData;
    const size_t a = ReadU16(payload + kOffsetA);
    const size_t b = ReadU16(payload + kOffsetB);
    const size_t key = ReadU16(payload + kKeyOffset);
    const size_t keyLength = ReadU16(payload + kKeyLength);
    size_t lengthA = 0;
    size_t lengthB = 0;
    if (!TextLength(data, dataSize, a, lengthA) || !TextLength(data, dataSize, b, lengthB)) return Result::NteBadData;
    if (!FrameHolds(a, a + lengthA, b, b + lengthB, key, key + keyLength, length)) return Result::NteBadData;
    // The frame rule keeps the key inside the payload; an empty key is no key.
    if (keyLength == 0 || key + keyLength > dataSize) return Result::NteBadData;

    out.name = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data + a), lengthA));
    out.textB = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data + b), lengthB));
    out.key = data + key;
    out.keyLength = static_cast<uint16_t>(keyLength);
    return 0;
}

std::vector<uint8_t> BuildDeviceHelloReply(std::u16string_view hostGuid, std::u16string_view computerName,
                                           std::u16string_view dnsDomain, const uint8_t* wrappedKey,
                                           size_t wrappedKeyLength) {
    using namespace HelloLayout;
    const std::string name = Utf16ToUtf8(computerName);
    const std::string domain = Utf16ToUtf8(dnsDomain);
    std::vector<uint8_t> out(kData, 0);
    PutFixed(out, Utf16ToUtf8(hostGuid));
    WriteU16(out.data() + kOffsetA, 0);
    WriteU16(out.data() + kOffsetB, static_cast<uint16_t>(name.size() + 1));
    WriteU16(out.data() + kKeyOffset, static_cast<uint16_t>(name.size() + 1 + domain.size() + 1));
    WriteU16(out.data() + kKeyLength, static_cast<uint16_t>(wrappedKeyLength));
    AppendText(out, name);
    AppendText(out, domain);
    out.insert(out.end(), wrappedKey, wrappedKey + wrappedKeyLength);
    return out;
}

std::vector<uint8_t> BuildDeviceHelloRequest(std::string_view deviceId, std::string_view name, std::string_view textB,
                                             const uint8_t* publicKeyDer, size_t publicKeyLength) {
    using namespace HelloLayout;
    std::vector<uint8_t> out(kData, 0);
    PutFixed(out, deviceId.size() < kIdSize ? deviceId : std::string_view());
    WriteU16(out.data() + kOffsetA, 0);
    WriteU16(out.data() + kOffsetB, static_cast<uint16_t>(name.size() + 1));
    WriteU16(out.data() + kKeyOffset, static_cast<uint16_t>(name.size() + 1 + textB.size() + 1));
    WriteU16(out.data() + kKeyLength, static_cast<uint16_t>(publicKeyLength));
    AppendText(out, name);
    AppendText(out, textB);
    out.insert(out.end(), publicKeyDer, publicKeyDer + publicKeyLength);
    return out;
}

uint32_t ParseDeviceHelloReply(const uint8_t* payload, size_t length, DeviceHelloReply& out) {
    using namespace HelloLayout;
    if (payload == nullptr || length < kData || ReadU16(payload + kVersion) != kVersion2) return Result::NteBadData;
    const uint8_t* data = payload + kData;
    const size_t dataSize = length - kData;
    const size_t a = ReadU16(payload + kOffsetA);
    const size_t b = ReadU16(payload + kOffsetB);
    const size_t key = ReadU16(payload + kKeyOffset);
    const size_t keyLength = ReadU16(payload + kKeyLength);
    size_t lengthA = 0;
    size_t lengthB = 0;
    if (!TextLength(data, dataSize, a, lengthA) || !TextLength(data, dataSize, b, lengthB)) return Result::NteBadData;
    if (!FrameHolds(a, a + lengthA, b, b + lengthB, key, key + keyLength, length)) return Result::NteBadData;
    if (key + keyLength > dataSize) return Result::NteBadData;
    const char* slot = reinterpret_cast<const char*>(payload + kId);
    out.hostGuid.assign(slot, strnlen(slot, kIdSize));
    out.computerName.assign(reinterpret_cast<const char*>(data + a), lengthA);
    out.dnsDomain.assign(reinterpret_cast<const char*>(data + b), lengthB);
    out.wrappedKey = data + key;
    out.wrappedKeyLength = static_cast<uint16_t>(keyLength);
    return 0;
}

}  // namespace corvane
