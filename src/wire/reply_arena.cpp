#include "wire/reply_arena.h"

#include <algorithm>
#include <cstdlib>

namespace corvane {

uint8_t* ReplyArena::Allocate(size_t size) {
    m_blocks.reserve(m_blocks.size() + 1);  // may throw before anything is allocated
    auto* block = static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
    if (block == nullptr) return nullptr;
    m_blocks.push_back(block);
    return block;
}

void ReplyArena::Forget(uint8_t* block) {
    auto it = std::find(m_blocks.begin(), m_blocks.end(), block);
    if (it != m_blocks.end()) {
        std::free(*it);
        m_blocks.erase(it);
    }
}

void ReplyArena::Release() {
    for (uint8_t* block : m_blocks) std::free(block);
    m_blocks.clear();
}

}  // namespace corvane
