#include "wire/result_text.h"

#include <cstring>

#include "wire/byte_order.h"
#include "wire/msg_header.h"
#include "wire/result_codes.h"
#include "wire/result_text_tables.h"
#include "platform/text.h"

namespace corvane {

namespace {
constexpr std::u16string_view kUnknownError = u"Unknown Error!";
constexpr std::u16string_view kErrorCode = u"Error Code";
constexpr uint16_t kLangTraditionalChinese = 0x0404;  // 1028, Chinese as used in Taiwan
constexpr uint16_t kLangSimplifiedChinese = 0x0804;   // 2052, Chinese as used in the PRC

bool IsServiceCode(uint32_t code) { return code >= Result::ServiceRangeFirst && code <= Result::ServiceRangeLast; }

// The first entry with the id, or nothing.
const TextEntry* FindEntry(TextLanguage language, uint32_t id) {
    for (const TextEntry& entry : TextTable(language)) {
        if (entry.nId == id) return &entry;
    }
    return nullptr;
}
}  // namespace

TextLanguage LanguageFromUiLanguage(uint16_t wLanguage) {
    if (wLanguage == kLangTraditionalChinese) return TextLanguage::TraditionalChinese;
    if (wLanguage == kLangSimplifiedChinese) return TextLanguage::SimplifiedChinese;
    return TextLanguage::English;
}

CMessageTexts::CMessageTexts(uint16_t wLanguage, ISystemMessages& systemMessages)
    : m_language(LanguageFromUiLanguage(wLanguage)), m_systemMessages(systemMessages) {}

std::u16string CMessageTexts::GetText(uint32_t id, std::u16string_view defaultText) const {
    const TextEntry* entry = FindEntry(m_language, id);
    return std::u16string(entry ? entry->strText : defaultText);
}

std::u16string CMessageTexts::GetResultText(uint32_t code) const {
    std::u16string text;
    if (IsServiceCode(code)) {
        text = GetText(code, u"");
    } else if (!m_systemMessages.FormatSystemMessage(code, text)) {
        text.clear();
    }
    if (!text.empty()) return text;
    const std::string fallback =
        FormatUtf8("%s : %d[0x%08x]", Utf16ToUtf8(GetText(TextId::UnknownError, kUnknownError)).c_str(),
                   static_cast<int32_t>(code), code);
    return Utf8ToUtf16(fallback);
}

size_t CMessageTexts::AppendReplyResultText(std::span<uint8_t> reply, size_t textOffset, uint32_t code) const {
    if (code == 0) return 0;
    std::u16string text;
    if (IsServiceCode(code)) {
        // Not the localised fallback: a reply always gets the plain English text for an unknown code.
        const TextEntry* entry = FindEntry(m_language, code);
        text = entry ? std::u16string(entry->strText) : std::u16string(kUnknownError);
    } else if (!m_systemMessages.FormatSystemMessage(code, text)) {
        text.clear();
    }
    if (text.empty()) return 0;
    const std::string utf8 = Utf16ToUtf8(text);
    if (utf8.size() + 1 > kMaxReplyResultText) return 0;
    if (reply.size() < 4 || textOffset > reply.size() || reply.size() - textOffset < utf8.size() + 1) return 0;
    const size_t newLength = static_cast<size_t>(ReadU16(reply.data() + 2)) + utf8.size();
    if (newLength > MsgHeader::kMaxPayload) return 0;
    std::memcpy(reply.data() + textOffset, utf8.data(), utf8.size());
    reply[textOffset + utf8.size()] = 0;
    WriteU16(reply.data() + 2, static_cast<uint16_t>(newLength));
    return utf8.size();
}

std::u16string CMessageTexts::GetSessionActionName(int32_t type) const {
    switch (type) {
        case 1: return GetText(TextId::Logoff, u"Logoff");
        case 2: return GetText(TextId::Locking, u"Locking");
        case 3: return GetText(TextId::Disconnect, u"Disconnect");
        default: return std::u16string(kErrorCode);
    }
}

std::u16string CMessageTexts::GetShutdownActionName(int32_t type) const {
    switch (type) {
        case 1: return GetText(TextId::Shutdown, u"Shutdown");
        case 2: return GetText(TextId::CancelShutdown, u"Cancel Shutdown");
        case 3: return GetText(TextId::QueryShutdown, u"Query Shutdown");
        default: return std::u16string(kErrorCode);
    }
}

}  // namespace corvane
