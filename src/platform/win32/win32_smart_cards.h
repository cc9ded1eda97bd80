// PC/SC through the Windows smart-card resource manager (winscard.dll).
#pragma once

#include "platform/smart_cards.h"

namespace corvane::win32 {

class Win32SmartCards final : public ISmartCards {
public:
    uint32_t EstablishContext(uint32_t scope, ScardContext& context) override;
    uint32_t ReleaseContext(ScardContext context) override;
    uint32_t IsValidContext(ScardContext context) override;
    uint32_t GetStatusChange(ScardContext context, uint32_t timeoutMs, ScardReaderState& state) override;
    uint32_t Cancel(ScardContext context) override;
    uint32_t ListReaders(ScardContext context, std::vector<std::u16string>& readers) override;
};

}  // namespace corvane::win32
