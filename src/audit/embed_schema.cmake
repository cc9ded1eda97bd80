# Turns the schema script into a C++ source holding its bytes, so that the service carries the
# script inside its binary on every platform (cmake -DINPUT=<sql> -DOUTPUT=<cpp> -P this file).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from audit_schema.sql; do not edit.
#include \"audit/audit_schema.h\"

namespace corvane {

namespace {
const unsigned char kSchema[${size}] = {
    ${bytes}
};
}  // namespace

std::string_view AuditSchemaScript() {
    return std::string_view(reinterpret_cast<const char*>(kSchema), sizeof kSchema);
}

}  // namespace corvane
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
