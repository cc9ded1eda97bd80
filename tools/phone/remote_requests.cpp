#include "remote_requests.h"

#include <cstdio>

#include "status_text.h"
#include "wire/byte_order.h"

namespace corvane::phone {

namespace {

void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    WriteU32(b, v);
    out.insert(out.end(), b, b + 4);
}

void AppendText(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// The text at `at` up to its NUL or the end of the payload.
std::string TextAt(const std::vector<uint8_t>& payload, size_t at, size_t most = std::string::npos) {
    if (at >= payload.size()) return {};
    size_t end = at;
    while (end < payload.size() && end - at < most && payload[end] != 0) ++end;
    return std::string(reinterpret_cast<const char*>(payload.data() + at), end - at);
}

std::string Field(const char* name, uint32_t v) { return std::string(" ") + name + "=" + std::to_string(v); }
std::string Field(const char* name, const std::string& v) { return std::string(" ") + name + "=" + v; }

}  // namespace

std::vector<uint8_t> EncodeSessionControl(uint32_t operation, const std::string& container, uint32_t keySpec,
                                          bool longForm) {
    std::vector<uint8_t> out;
    AppendU32(out, operation);
    if (longForm || keySpec != 1) AppendU32(out, keySpec);
    AppendText(out, container);
    return out;
}

std::vector<uint8_t> EncodeShutdown(uint32_t operation, uint32_t seconds, const std::string& container,
                                    uint32_t keySpec) {
    std::vector<uint8_t> out;
    AppendU32(out, operation);
    AppendU32(out, seconds);
    AppendU32(out, keySpec);
    AppendText(out, container);
    return out;
}

std::vector<uint8_t> EncodeSessionTimeQuery(const std::string& upn) {
    std::vector<uint8_t> out;
    AppendText(out, upn);
    return out;
}

std::string DescribeRemoteReply(uint16_t code, uint32_t status, const std::vector<uint8_t>& payload) {
    char head[32];
    std::snprintf(head, sizeof head, "status=0x%08X", status);
    std::string out = head + tools::StatusTextSuffix(status);
    switch (code) {
    case kSessionControlCode:
        if (payload.size() >= 4) out += Field("operation", ReadU32(payload.data())) + Field("text", TextAt(payload, 4));
        break;
    case kShutdownCode:
        if (payload.size() >= 8) {
            out += Field("operation", ReadU32(payload.data())) + Field("seconds", ReadU32(payload.data() + 4)) +
                   Field("text", TextAt(payload, 8));
        }
        break;
    case kSessionTimeCode:
        // u16 desktop, u16 state, three 15-byte time texts, then the principal name.
        if (payload.size() >= 49) {
            out += Field("desktop", ReadU16(payload.data())) + Field("state", ReadU16(payload.data() + 2)) +
                   Field("logon", TextAt(payload, 4, 15)) + Field("active", TextAt(payload, 19, 15)) +
                   Field("locked", TextAt(payload, 34, 15)) + Field("upn", TextAt(payload, 49));
        }
        break;
    default: break;
    }
    return out;
}

}  // namespace corvane::phone
