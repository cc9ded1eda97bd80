#include "platform/posix/posix_system_messages.h"

#include "platform/system_message_table.h"

namespace corvane::posix {

bool PosixSystemMessages::FormatSystemMessage(uint32_t code, std::u16string& out) {
    const auto text = FindSystemMessage(code);
    if (!text) return false;
    out.assign(*text);
    return true;
}

}  // namespace corvane::posix
