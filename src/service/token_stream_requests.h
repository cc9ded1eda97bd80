// The token layer's requests as the stream channel calls them: whole request messages in, whole
// reply messages out, built in the request's arena.
#pragma once

#include "channel/stream_token_requests.h"
#include "token/token_requests.h"

namespace corvane {

class CTokenStreamRequests final : public IStreamTokenRequests {
public:
    explicit CTokenStreamRequests(CTokenRequests& requests) : m_requests(requests) {}

    uint32_t HandleSlotList(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                            size_t& replySize) override;
    uint32_t HandleSlotState(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                             size_t& replySize) override;
    uint32_t HandleTokenOperation(const uint8_t* request, size_t size, ReplyArena& arena, uint8_t*& reply,
                                  size_t& replySize) override;

private:
    CTokenRequests& m_requests;
};

}  // namespace corvane
