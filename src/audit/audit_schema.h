// The script that creates the audit table and its two indexes (the "SQL" resource of the
// service), embedded in the binary at build time. Not NUL-terminated: callers copy it.
#pragma once

#include <string_view>

namespace corvane {

std::string_view AuditSchemaScript();

}  // namespace corvane
