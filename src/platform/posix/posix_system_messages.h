#pragma once

#include "platform/system_messages.h"

namespace corvane::posix {

// The Windows texts of the codes this service produces, from the built-in table.
class PosixSystemMessages final : public ISystemMessages {
public:
    bool FormatSystemMessage(uint32_t code, std::u16string& out) override;
};

}  // namespace corvane::posix
