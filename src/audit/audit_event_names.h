// The names of the audit table's event codes, as reports and the control tool show them beside
// the numbers.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane {

// "EVENT_TYPE_SESSION_LOCK" for 7; empty for a code that has no name.
std::string_view AuditEventTypeName(int32_t code);

}  // namespace corvane
