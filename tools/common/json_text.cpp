#include "json_text.h"

#include <cstdio>

namespace corvane::tools {

namespace {
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at `i`, or 0 (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF).
size_t Utf8SequenceLength(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - i < length) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}
}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                        out += escaped;
                    } else {
                        out.push_back(static_cast<char>(c));
                    }
            }
            ++i;
            continue;
        }
        const size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    out.push_back('"');
    return out;
}

void JsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_firsts.empty()) {
        if (!m_firsts.back()) m_out.push_back(',');
        m_firsts.back() = false;
    }
}

JsonWriter& JsonWriter::Open(char bracket) {
    BeforeValue();
    m_out.push_back(bracket);
    m_firsts.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    m_out.push_back(bracket);
    if (!m_firsts.empty()) m_firsts.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    BeforeValue();
    m_out += JsonString(name);
    m_out.push_back(':');
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    BeforeValue();
    m_out += JsonString(text);
    return *this;
}

JsonWriter& JsonWriter::Number(int64_t n) {
    BeforeValue();
    m_out += std::to_string(n);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool b) {
    BeforeValue();
    m_out += b ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    m_out += "null";
    return *this;
}

}  // namespace corvane::tools
