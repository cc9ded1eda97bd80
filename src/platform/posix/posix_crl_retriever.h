// CRL retrieval over HTTP with libcurl. There is no URL cache here: a retrieval from the cache
// only finds nothing. A retrieval never takes longer than its time-out, from the first byte of
// the connection to the last byte of the answer.
#pragma once

#include "platform/certificates.h"

namespace corvane::posix {

class PosixCrlRetriever final : public ICrlRetriever {
public:
    PosixCrlRetriever();
    ~PosixCrlRetriever() override;

    uint32_t RetrieveCrl(std::u16string_view url, uint32_t flags, uint32_t timeoutMs, std::vector<uint8_t>& der) override;
};

}  // namespace corvane::posix
