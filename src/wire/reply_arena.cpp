#include "wire/reply_arena.h"

#include <algorithm>
#include <cstdlib>

#include "crypto/secure_zero.h"

namespace corvane {

uint8_t* ReplyArena::Allocate(size_t size) {
    m_blocks.reserve(m_blocks.size() + 1);  // may throw before anything is allocated
    const size_t allocated = size ? size : 1;
    void* block = m_pHeap ? m_pHeap->Allocate(allocated) : std::calloc(allocated, 1);
    if (block == nullptr) return nullptr;
    m_blocks.push_back({static_cast<uint8_t*>(block), allocated});
    return static_cast<uint8_t*>(block);
}

void ReplyArena::Free(const Block& block) {
    // A request's blocks may hold PINs, key material or raw RSA results: none of it stays in the
    // heap once the request is done.
    SecureZero(block.data, block.size);
    if (m_pHeap) {
        m_pHeap->Free(block.data, block.size);
    } else {
        std::free(block.data);
    }
}

void ReplyArena::Forget(uint8_t* block) {
    auto it = std::find_if(m_blocks.begin(), m_blocks.end(), [block](const Block& b) { return b.data == block; });
    if (it != m_blocks.end()) {
        Free(*it);
        m_blocks.erase(it);
    }
}

void ReplyArena::Release() {
    for (const Block& block : m_blocks) Free(block);
    m_blocks.clear();
}

}  // namespace corvane
