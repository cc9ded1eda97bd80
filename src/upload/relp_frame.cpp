#include "upload/relp_frame.h"

namespace corvane {

namespace {
constexpr size_t kMaxNumberDigits = 9;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

enum class Field { Ok, NeedMore, Invalid };

// Reads 1 to 9 digits ending at a space (or, when `lfEnds`, a line feed) from text[pos...].
Field ReadNumber(std::string_view text, size_t& pos, uint32_t& value, bool lfEnds, char& terminator) {
    uint32_t result = 0;
    size_t digits = 0;
    while (true) {
        if (pos >= text.size()) return Field::NeedMore;
        const char c = text[pos];
        if (IsDigit(c)) {
            if (++digits > kMaxNumberDigits) return Field::Invalid;
            result = result * 10 + static_cast<uint32_t>(c - '0');
            ++pos;
            continue;
        }
        if (digits == 0) return Field::Invalid;
        if (c == ' ' || (lfEnds && c == '\n')) {
            terminator = c;
            ++pos;
            value = result;
            return Field::Ok;
        }
        return Field::Invalid;
    }
}
}  // namespace

std::string EncodeRelpFrame(uint32_t txnr, std::string_view command, std::string_view data) {
    std::string out = std::to_string(txnr);
    out += ' ';
    out += command;
    out += ' ';
    out += std::to_string(data.size());
    if (!data.empty()) {
        out += ' ';
        out += data;
    }
    out += '\n';
    return out;
}

void CRelpReplyParser::Append(const void* data, size_t size) {
    // Drop what earlier frames used before the buffer grows, so it never holds more than one
    // frame and the bytes of the next.
    if (m_offset > 0 && m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    } else if (m_offset > 4096) {
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(static_cast<const char*>(data), size);
}

RelpParse CRelpReplyParser::Next(RelpFrame& frame) {
    const std::string_view text = std::string_view(m_buffer).substr(m_offset);
    size_t pos = 0;
    char terminator = 0;
    uint32_t txnr = 0;
    switch (ReadNumber(text, pos, txnr, false, terminator)) {
        case Field::NeedMore: return RelpParse::NeedMore;
        case Field::Invalid: return RelpParse::Invalid;
        case Field::Ok: break;
    }
    const size_t commandStart = pos;
    while (true) {
        if (pos >= text.size()) return RelpParse::NeedMore;
        if (text[pos] == ' ') break;
        if (!IsLetter(text[pos]) || pos - commandStart >= kRelpMaxCommandLength) return RelpParse::Invalid;
        ++pos;
    }
    if (pos == commandStart) return RelpParse::Invalid;
    const std::string_view command = text.substr(commandStart, pos - commandStart);
    ++pos;
    uint32_t length = 0;
    switch (ReadNumber(text, pos, length, true, terminator)) {
        case Field::NeedMore: return RelpParse::NeedMore;
        case Field::Invalid: return RelpParse::Invalid;
        case Field::Ok: break;
    }
    if (length > m_maxData) return RelpParse::Invalid;
    std::string_view data;
    if (terminator == '\n') {
        // "DATALEN LF": only a length of 0 may end there.
        if (length != 0) return RelpParse::Invalid;
    } else {
        if (length == 0) {
            // "0 SP" with no data: tolerated when the trailer follows at once.
            if (pos >= text.size()) return RelpParse::NeedMore;
            if (text[pos] != '\n') return RelpParse::Invalid;
            ++pos;
        } else {
            if (text.size() - pos < static_cast<size_t>(length) + 1) return RelpParse::NeedMore;
            data = text.substr(pos, length);
            pos += length;
            if (text[pos] != '\n') return RelpParse::Invalid;
            ++pos;
        }
    }
    frame.nTxnr = txnr;
    frame.strCommand.assign(command);
    frame.strData.assign(data);
    m_offset += pos;
    return RelpParse::Frame;
}

int RelpResponseCode(std::string_view data) {
    if (data.size() < 3 || !IsDigit(data[0]) || !IsDigit(data[1]) || !IsDigit(data[2])) return -1;
    if (data.size() > 3 && data[3] != ' ' && data[3] != '\n') return -1;
    return (data[0] - '0') * 100 + (data[1] - '0') * 10 + (data[2] - '0');
}

}  // namespace corvane
