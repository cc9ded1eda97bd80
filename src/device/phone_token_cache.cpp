#include "device/phone_token_cache.h"

#include <cstring>
#include <new>

namespace corvane {

uint32_t CPhoneTokenCache::AnswerFromCache(const uint8_t* request, size_t requestSize, ReplyArena& arena,
                                           uint8_t** reply, size_t* replySize) {
    auto message = TokenMessage::View(request, requestSize);
    if (!message || reply == nullptr || replySize == nullptr) return PhoneTokenStatus::Forward;
    try {
        std::lock_guard v1Lock(m_v1Mutex);
        {
            std::lock_guard v2Lock(m_v2Mutex);
            if (m_v2.ContainerListMode()) return m_v2.AnswerFromCache(*message, arena, reply, replySize);
        }
        return m_v1.AnswerFromCache(*message, arena, reply, replySize);
    } catch (const std::bad_alloc&) {
        return TokenError::NteNoMemory;
    }
}

uint32_t CPhoneTokenCache::UpdateCache(const uint8_t* request, size_t requestSize, const uint8_t* reply,
                                       size_t replySize) {
    auto requestMessage = TokenMessage::View(request, requestSize);
    auto replyMessage = TokenMessage::View(reply, replySize);
    if (!requestMessage || !replyMessage) return TokenError::NteBadLen;
    try {
        std::lock_guard v1Lock(m_v1Mutex);
        {
            std::lock_guard v2Lock(m_v2Mutex);
            if (m_v2.ContainerListMode()) return m_v2.UpdateCache(*requestMessage, *replyMessage);
        }
        return m_v1.UpdateCache(*requestMessage, *replyMessage);
    } catch (const std::bad_alloc&) {
        return TokenError::NteNoMemory;
    }
}

void CPhoneTokenCache::ForgetUnansweredChange(const uint8_t* request, size_t requestSize) {
    auto message = TokenMessage::View(request, requestSize);
    if (!message) return;
    std::lock_guard v1Lock(m_v1Mutex);
    std::lock_guard v2Lock(m_v2Mutex);
    if (m_v2.ContainerListMode())
        m_v2.ForgetUnansweredChange(*message);
    else
        m_v1.ForgetUnansweredChange(*message);
}

uint32_t CPhoneTokenCache::UpdateContainerList(const uint8_t* message, size_t size) {
    std::lock_guard lock(m_v2Mutex);
    try {
        return m_v2.UpdateContainerList(message, size);
    } catch (const std::bad_alloc&) {
        m_v2.Clear();
        return TokenError::NteNoMemory;
    }
}

void CPhoneTokenCache::SetContainerListMode() {
    std::lock_guard lock(m_v2Mutex);
    m_v2.SetContainerListMode();
}

void CPhoneTokenCache::ResetCacheV1() {
    std::lock_guard lock(m_v1Mutex);
    m_v1.ResetCacheV1();
}

void CPhoneTokenCache::ResetOnRebind() {
    std::lock_guard v1Lock(m_v1Mutex);
    m_v1.ResetOnRebind();
    std::lock_guard v2Lock(m_v2Mutex);
    m_v2.Clear();
}

uint32_t CPhoneTokenCache::CopyRawImage(uint8_t* out, size_t capacity, size_t* size) {
    std::lock_guard lock(m_v2Mutex);
    const auto& image = m_v2.RawImage();
    *size = image.size();
    if (image.empty()) return 0;
    if (out == nullptr || capacity < image.size()) return TokenError::MoreData;
    std::memcpy(out, image.data(), image.size());
    return 0;
}

std::vector<uint8_t> CPhoneTokenCache::RawImage() {
    std::lock_guard lock(m_v2Mutex);
    return m_v2.RawImage();
}

bool CPhoneTokenCache::ContainerListMode() {
    std::lock_guard lock(m_v2Mutex);
    return m_v2.ContainerListMode();
}

uint32_t CPhoneTokenCache::CacheGeneration() {
    std::lock_guard lock(m_v1Mutex);
    return m_v1.CacheGeneration();
}

}  // namespace corvane
