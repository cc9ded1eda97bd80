// Texts for result codes and operation names, in the language chosen once at start from the UI
// language of the service's account: traditional Chinese for 1028 (0x0404), simplified Chinese
// for 2052 (0x0804), English otherwise. Codes outside the service's own range
// (0x20000000-0x2FFFFFFF) get the operating system's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/system_messages.h"

namespace corvane {

enum class TextLanguage { English, SimplifiedChinese, TraditionalChinese };

// 1028 → traditional Chinese, 2052 → simplified Chinese, anything else → English.
TextLanguage LanguageFromUiLanguage(uint16_t wLanguage);

namespace TextId {
constexpr uint32_t ServiceDescription = 0x01;
constexpr uint32_t Logon = 0x0B;
constexpr uint32_t Unlock = 0x0C;
constexpr uint32_t Relogon = 0x0D;
constexpr uint32_t Logoff = 0x15;
constexpr uint32_t Locking = 0x16;
constexpr uint32_t Disconnect = 0x17;
constexpr uint32_t Shutdown = 0x18;
constexpr uint32_t CancelShutdown = 0x19;
constexpr uint32_t QueryShutdown = 0x1A;
constexpr uint32_t UnknownError = 0x65;
}  // namespace TextId

// The longest result text, NUL included, that a reply carries.
inline constexpr size_t kMaxReplyResultText = 8192;

class CMessageTexts {
public:
    // `wLanguage` is GetUserDefaultUILanguage at process start; it does not change afterwards.
    CMessageTexts(uint16_t wLanguage, ISystemMessages& systemMessages);

    // The chosen table's text for `id`, or `defaultText` when no entry has the id.
    std::u16string GetText(uint32_t id, std::u16string_view defaultText) const;
    // The text for a result code: the table's for the service's own codes, the system's for the
    // others; "Unknown Error! : <signed decimal>[0x<8 hex digits>]" when there is none.
    std::u16string GetResultText(uint32_t code) const;
    // Writes the text for `code` as UTF-8 with its NUL at `textOffset` of a reply whose header
    // (u16 length at offset 2) is at the start of `reply`, and grows the header's length by the
    // text's size without its NUL. Code 0 and an empty text write nothing; a text that does not
    // fit (more than 8192 bytes with its NUL, past the end of `reply`, or a length beyond 65535)
    // is left out. Returns the bytes added to the length.
    size_t AppendReplyResultText(std::span<uint8_t> reply, size_t textOffset, uint32_t code) const;
    // 1 → "Logoff", 2 → "Locking", 3 → "Disconnect" (in the chosen language); else "Error Code".
    std::u16string GetSessionActionName(int32_t type) const;
    // 1 → "Shutdown", 2 → "Cancel Shutdown", 3 → "Query Shutdown"; else "Error Code".
    std::u16string GetShutdownActionName(int32_t type) const;

    // Chosen once from the UI language given at construction.
    TextLanguage m_language;

private:
    ISystemMessages& m_systemMessages;
};

}  // namespace corvane
