// The frames of the reliable event logging protocol that carries audit rows to the collector:
// "TXNR SP COMMAND SP DATALEN [SP DATA] LF". TXNR is 1 to 9 digits (0 only for the collector's
// own "serverclose"), COMMAND 1 to 32 letters, DATALEN 1 to 9 digits giving the byte count of
// DATA, which is absent when DATALEN is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr uint32_t kRelpMaxTxnr = 999999999;
inline constexpr size_t kRelpMaxCommandLength = 32;
// The collector's replies are short status lines and the offers of "open"; anything longer than
// this is not a reply of a well-behaved collector and ends the session.
inline constexpr size_t kRelpMaxReplyData = 64 * 1024;

struct RelpFrame {
    uint32_t nTxnr = 0;
    std::string strCommand;
    std::string strData;
};

// One frame as bytes.
std::string EncodeRelpFrame(uint32_t txnr, std::string_view command, std::string_view data);

enum class RelpParse {
    NeedMore,  // the frame is not complete yet
    Frame,     // one frame was taken from the front of the buffer
    Invalid,   // the bytes are not a frame: the session cannot go on
};

// Gathers the collector's bytes and takes whole frames from them. Every field is checked against
// its limits before it is read; nothing beyond the bytes given is ever touched.
class CRelpReplyParser {
public:
    explicit CRelpReplyParser(size_t maxData = kRelpMaxReplyData) : m_maxData(maxData) {}
    void Append(const void* data, size_t size);
    // Takes the next frame into `frame` when a whole one is buffered.
    RelpParse Next(RelpFrame& frame);
    size_t Buffered() const { return m_buffer.size() - m_offset; }
    void Reset() {
        m_buffer.clear();
        m_offset = 0;
    }

private:
    size_t m_maxData;
    std::string m_buffer;
    size_t m_offset = 0;
};

// The status of an "rsp" frame: its leading three-digit code ("200 OK" → 200), or -1 when the
// data does not start with one.
int RelpResponseCode(std::string_view data);

// The next transaction number after `txnr`: 1 to 999999999, then 1 again.
inline uint32_t NextRelpTxnr(uint32_t txnr) { return txnr >= kRelpMaxTxnr ? 1 : txnr + 1; }

}  // namespace corvane
