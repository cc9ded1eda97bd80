#pragma once

#include "platform/system_messages.h"

namespace corvane::win32 {

// FormatMessageW from the system's message tables, default language.
class Win32SystemMessages final : public ISystemMessages {
public:
    bool FormatSystemMessage(uint32_t code, std::u16string& out) override;
};

}  // namespace corvane::win32
