// The token cache of one phone device: answers the CSP's repeated token questions without a
// round trip over BLE, and learns from every request the device forwards and the phone's reply.
// Until the phone speaks the container-list protocol the cache is filled from replies alone
// (CTokenCacheV1); afterwards it follows the lists the phone pushes (CTokenCacheV2).
//
// The phone device owns one. Transmit calls AnswerFromCache after its secure session is up and,
// when that returns PhoneTokenStatus::Forward, exchanges the request with the phone and then calls
// UpdateCache with the request and the reply. The passive channel hands pushed lists to
// UpdateContainerList and the phone's status notification to ResetCacheV1; Rebind calls
// ResetOnRebind. The cache guards itself: one lock for the reply-filled part (taken first) and
// one for the list-filled part, so calls may come from any of those threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device/token_cache_v1.h"
#include "device/token_cache_v2.h"

namespace corvane {

class CPhoneTokenCache {
public:
    CPhoneTokenCache(IClock& clock, CertificateUpnReader upnReader = {})
        : m_v1(clock), m_v2(clock, std::move(upnReader)) {}

    // request: a whole message (header and payload). 0 with *reply (from arena) and *replySize
    // set; PhoneTokenStatus::Forward; or an error that Transmit returns as its result.
    uint32_t AnswerFromCache(const uint8_t* request, size_t requestSize, ReplyArena& arena, uint8_t** reply,
                             size_t* replySize);
    // After a successful exchange; the result tells why nothing was learnt and may be ignored.
    uint32_t UpdateCache(const uint8_t* request, size_t requestSize, const uint8_t* reply, size_t replySize);
    // After a forwarded request got no reply that could be read (a time-out, a broken channel, a
    // reply that would not decrypt): the phone may or may not have made a change the request
    // asked for, so what it could have changed is forgotten and asked of the phone again.
    void ForgetUnansweredChange(const uint8_t* request, size_t requestSize);

    // A container list pushed by the phone: 0 or the error to answer the phone with.
    uint32_t UpdateContainerList(const uint8_t* message, size_t size);
    // The phone's hello announced the container-list protocol.
    void SetContainerListMode();
    // The phone's status notification: empties the reply-filled cache unless a change is under
    // way or recent.
    void ResetCacheV1();
    // A rebind: both caches emptied, the list mode kept.
    void ResetOnRebind();

    // The list image as the device list passes it on: 0 with the bytes copied and *size set; 0
    // with *size 0 when there is none; ERROR_MORE_DATA (234) with *size set to the length needed
    // when capacity is too small (nothing is copied).
    uint32_t CopyRawImage(uint8_t* out, size_t capacity, size_t* size);
    std::vector<uint8_t> RawImage();
    bool ContainerListMode();
    uint32_t CacheGeneration();

private:
    std::mutex m_v1Mutex;  // taken before m_v2Mutex when both are held
    std::mutex m_v2Mutex;
    CTokenCacheV1 m_v1;
    CTokenCacheV2 m_v2;
};

}  // namespace corvane
