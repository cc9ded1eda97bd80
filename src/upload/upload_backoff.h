// The wait before the next attempt to reach the collector: 1 s after the first failure, doubling
// up to 60 s, each wait lengthened by a random share of up to a quarter so that many computers
// that lost the same collector do not all come back at the same moment.
#pragma once

#include <cstdint>

namespace corvane {

class CUploadBackoff {
public:
    static constexpr uint32_t kFirstMs = 1000;
    static constexpr uint32_t kMostMs = 60000;

    // The wait after one more failure; `random` is any 32-bit random value.
    uint32_t NextDelay(uint32_t random);
    void Reset() { m_nBaseMs = 0; }
    // The base of the last wait (0 after a success).
    uint32_t CurrentMs() const { return m_nBaseMs; }

private:
    uint32_t m_nBaseMs = 0;
};

}  // namespace corvane
