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

// Where the two texts and the key of a hello or its reply lie in the data area behind the fixed
// part, read and checked against the payload's length.
struct HelloFrame {
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    size_t a = 0, lengthA = 0;
    size_t b = 0, lengthB = 0;
    size_t key = 0, keyLength = 0;
};

bool ReadHelloFrame(const uint8_t* payload, size_t length, HelloFrame& f) {
    using namespace HelloLayout;
    f.data = payload + kData;
    f.dataSize = length - kData;
    f.a = ReadU16(payload + kOffsetA);
    f.b = ReadU16(payload + kOffsetB);
    f.key = ReadU16(payload + kKeyOffset);
    f.keyLength = ReadU16(payload + kKeyLength);
    if (!TextLength(f.data, f.dataSize, f.a, f.lengthA) || !TextLength(f.data, f.dataSize, f.b, f.lengthB)) return false;
    if (!FrameHolds(f.a, f.a + f.lengthA, f.b, f.b + f.lengthB, f.key, f.key + f.keyLength, length)) return false;
    return f.key + f.keyLength <= f.dataSize;
}

std::string_view TextAt(const HelloFrame& f, size_t offset, size_t length) {
    return {reinterpret_cast<const char*>(f.data + offset), length};
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

// A hello or its reply: the fixed part with `idText`, the two texts with their NULs, the key.
std::vector<uint8_t> BuildHello(std::string_view idText, std::string_view textA, std::string_view textB,
                                const uint8_t* key, size_t keyLength) {
    using namespace HelloLayout;
    std::vector<uint8_t> out(kData, 0);
    PutFixed(out, idText);
    WriteU16(out.data() + kOffsetA, 0);
    WriteU16(out.data() + kOffsetB, static_cast<uint16_t>(textA.size() + 1));
    WriteU16(out.data() + kKeyOffset, static_cast<uint16_t>(textA.size() + 1 + textB.size() + 1));
    WriteU16(out.data() + kKeyLength, static_cast<uint16_t>(keyLength));
    AppendText(out, textA);
    AppendText(out, textB);
    out.insert(out.end(), key, key + keyLength);
    return out;
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

    HelloFrame f;
    // The frame rule keeps the key inside the payload; an empty key is no key.
    if (!ReadHelloFrame(payload, length, f) || f.keyLength == 0) return Result::NteBadData;

    out.name = Utf8ToUtf16(TextAt(f, f.a, f.lengthA));
    out.textB = Utf8ToUtf16(TextAt(f, f.b, f.lengthB));
    out.key = f.data + f.key;
    out.keyLength = static_cast<uint16_t>(f.keyLength);
    return 0;
}

std::vector<uint8_t> BuildDeviceHelloReply(std::u16string_view hostGuid, std::u16string_view computerName,
                                           std::u16string_view dnsDomain, const uint8_t* wrappedKey,
                                           size_t wrappedKeyLength) {
    return BuildHello(Utf16ToUtf8(hostGuid), Utf16ToUtf8(computerName), Utf16ToUtf8(dnsDomain), wrappedKey,
                      wrappedKeyLength);
}

std::vector<uint8_t> BuildDeviceHelloRequest(std::string_view deviceId, std::string_view name, std::string_view textB,
                                             const uint8_t* publicKeyDer, size_t publicKeyLength) {
    return BuildHello(deviceId.size() < HelloLayout::kIdSize ? deviceId : std::string_view(), name, textB,
                      publicKeyDer, publicKeyLength);
}

uint32_t ParseDeviceHelloReply(const uint8_t* payload, size_t length, DeviceHelloReply& out) {
    using namespace HelloLayout;
    if (payload == nullptr || length < kData || ReadU16(payload + kVersion) != kVersion2) return Result::NteBadData;
    HelloFrame f;
    if (!ReadHelloFrame(payload, length, f)) return Result::NteBadData;
    const char* slot = reinterpret_cast<const char*>(payload + kId);
    out.hostGuid.assign(slot, strnlen(slot, kIdSize));
    out.computerName = std::string(TextAt(f, f.a, f.lengthA));
    out.dnsDomain = std::string(TextAt(f, f.b, f.lengthB));
    out.wrappedKey = f.data + f.key;
    out.wrappedKeyLength = static_cast<uint16_t>(f.keyLength);
    return 0;
}

}  // namespace corvane
