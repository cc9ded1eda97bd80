// The buffers of one request: every reply and temporary block of a request handler comes from
// its arena, zero-filled; the channel releases them all at once after the reply has been sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

class ReplyArena {
public:
    ReplyArena() = default;
    ~ReplyArena() { Release(); }
    ReplyArena(const ReplyArena&) = delete;
    ReplyArena& operator=(const ReplyArena&) = delete;

    // A zero-filled block that the arena remembers, or null (not remembered) when the heap
    // refuses. A failure to grow the list of blocks throws std::bad_alloc, the framework's
    // out-of-memory exception.
    uint8_t* Allocate(size_t size);
    // Takes one block back out of the arena and frees it (used when a receive fails midway).
    void Forget(uint8_t* block);
    // Frees every remembered block.
    void Release();
    size_t BlockCount() const { return m_blocks.size(); }

private:
    std::vector<uint8_t*> m_blocks;
};

}  // namespace corvane
