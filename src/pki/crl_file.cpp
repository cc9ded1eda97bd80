#include "pki/crl_file.h"

#include <string>

namespace corvane {

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// UTF-16 text (little-endian, with or without a byte order mark) of ASCII characters as 8-bit
// text; nothing when the bytes are not such text.
std::optional<std::string> Utf16ToAscii(const uint8_t* data, size_t size) {
    if (size < 2 || size % 2 != 0) return std::nullopt;
    size_t i = 0;
    if (data[0] == 0xFF && data[1] == 0xFE) i = 2;
    std::string text;
    text.reserve(size / 2);
    for (; i < size; i += 2) {
        if (data[i + 1] != 0 || data[i] == 0 || data[i] >= 0x80) return std::nullopt;
        text.push_back(static_cast<char>(data[i]));
    }
    return text;
}

}  // namespace

std::optional<std::vector<uint8_t>> DecodeBase64Text(std::string_view text) {
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    int padding = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t first = 0;
        while (first < line.size() && IsSpace(line[first])) ++first;
        if (line.substr(first, 5) == "-----") continue;
        for (char c : line) {
            if (IsSpace(c)) continue;
            if (c == '=') {
                ++padding;
                continue;
            }
            const int v = Base64Value(c);
            // Data after padding, or any other character, is no Base64.
            if (v < 0 || padding > 0) return std::nullopt;
            bits = (bits << 6) | static_cast<uint32_t>(v);
            if (++count == 4) {
                out.push_back(static_cast<uint8_t>(bits >> 16));
                out.push_back(static_cast<uint8_t>(bits >> 8));
                out.push_back(static_cast<uint8_t>(bits));
                bits = 0;
                count = 0;
            }
        }
    }
    if (count == 1 || padding > 2) return std::nullopt;
    if (count == 2) out.push_back(static_cast<uint8_t>(bits >> 4));
    if (count == 3) {
        out.push_back(static_cast<uint8_t>(bits >> 10));
        out.push_back(static_cast<uint8_t>(bits >> 2));
    }
    if (out.empty()) return std::nullopt;
    return out;
}

bool DecodeCrlFile(const uint8_t* data, size_t size, DecodedCrl& out) {
    if (DecodeCrl(data, size, out)) return true;
    if (auto wide = Utf16ToAscii(data, size)) {
        if (auto der = DecodeBase64Text(*wide); der && DecodeCrl(der->data(), der->size(), out)) return true;
    }
    const std::string_view narrow(reinterpret_cast<const char*>(data), size);
    if (auto der = DecodeBase64Text(narrow); der && DecodeCrl(der->data(), der->size(), out)) return true;
    return false;
}

}  // namespace corvane
