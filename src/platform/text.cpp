#include "platform/text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace corvane {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}
}  // namespace

std::u16string Utf8ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        const uint8_t b0 = static_cast<uint8_t>(in[i]);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        size_t extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if ((b0 & 0xE0) == 0xC0) {
            extra = 1; cp = b0 & 0x1F; minimum = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2; cp = b0 & 0x0F; minimum = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3; cp = b0 & 0x07; minimum = 0x10000;
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        // A sequence cut off by the end of the input is malformed.
        bool ok = i + extra < n;
        if (ok) {
            for (size_t k = 1; k <= extra; ++k) {
                const uint8_t b = static_cast<uint8_t>(in[i + k]);
                if ((b & 0xC0) != 0x80) { ok = false; break; }
                cp = (cp << 6) | (b & 0x3F);
            }
        }
        if (!ok || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        AppendUtf16(out, cp);
        i += extra + 1;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t c = in[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
                ++i;
            } else {
                c = kReplacement;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf8SlotToUtf16(const uint8_t* slot, size_t slotSize) {
    size_t len = 0;
    while (len < slotSize && slot[len] != 0) ++len;
    return Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(slot), len));
}

std::u16string AsciiToUtf16(std::string_view ascii) {
    std::u16string out;
    out.reserve(ascii.size());
    for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
    return out;
}

char16_t ToUpper16(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    // Latin-1 supplement and Latin Extended-A, Greek and Cyrillic basic blocks.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    if (c >= 0x100 && c <= 0x17F && (c & 1)) return static_cast<char16_t>(c - 1);
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 32);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 32);
    return c;
}

std::u16string ToUpper(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) c = ToUpper16(c);
    return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ToUpper16(a[i]) != ToUpper16(b[i])) return false;
    }
    return true;
}

std::string FormatUtf8(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        out.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return out;
}

}  // namespace corvane
