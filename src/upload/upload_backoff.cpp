#include "upload/upload_backoff.h"

namespace corvane {

uint32_t CUploadBackoff::NextDelay(uint32_t random) {
    m_nBaseMs = m_nBaseMs == 0 ? kFirstMs : (m_nBaseMs >= kMostMs / 2 ? kMostMs : m_nBaseMs * 2);
    const uint32_t jitter = random % (m_nBaseMs / 4 + 1);
    // At the top the random share shortens the wait instead, so that it still varies.
    return m_nBaseMs + jitter > kMostMs ? kMostMs - jitter : m_nBaseMs + jitter;
}

}  // namespace corvane
