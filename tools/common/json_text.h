// JSON for scripts (corvane-ctl ... --json): strings escaped as RFC 8259 asks, and a small writer
// that puts the commas and brackets where they belong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::tools {

// `text` as a JSON string with its quotes: '"' and '\' escaped, control characters below 0x20 as
// \b \f \n \r \t or \u00XX, everything else as it is. Bytes that are not UTF-8 (a stray
// continuation byte, a cut or overlong sequence, a surrogate) become U+FFFD, so the output is
// always valid JSON text.
std::string JsonString(std::string_view text);

class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    // The name of the next member of an object.
    JsonWriter& Key(std::string_view name);
    JsonWriter& String(std::string_view text);
    JsonWriter& Number(int64_t n);
    JsonWriter& Bool(bool b);
    JsonWriter& Null();
    // The text so far, with a line end once every bracket is closed.
    std::string Text() const { return m_out + (m_firsts.empty() ? "\n" : ""); }

private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void BeforeValue();

    std::string m_out;
    std::vector<bool> m_firsts;  // per open bracket: nothing written in it yet
    bool m_afterKey = false;
};

}  // namespace corvane::tools
