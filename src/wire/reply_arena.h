// The buffers of one request: every reply and temporary block of a request handler comes from
// its arena, zero-filled; the channel releases them all at once after the reply has been sent.
// Blocks hold PINs, private keys and raw RSA results in clear, so every block is wiped before it
// goes back to the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

// Where an arena's blocks come from and go back to: the C heap, unless the arena is handed
// another (tests watch what a block still holds when it is given back).
class IArenaHeap {
public:
    virtual ~IArenaHeap() = default;
    // A zero-filled block of `size` bytes (size > 0), or null when the heap refuses.
    virtual void* Allocate(size_t size) = 0;
    // Takes back a block that Allocate gave, with its size.
    virtual void Free(void* block, size_t size) = 0;
};

class ReplyArena {
public:
    // `heap` (null: the C heap) outlives the arena.
    explicit ReplyArena(IArenaHeap* heap = nullptr) : m_pHeap(heap) {}
    ~ReplyArena() { Release(); }
    ReplyArena(const ReplyArena&) = delete;
    ReplyArena& operator=(const ReplyArena&) = delete;

    // A zero-filled block that the arena remembers, or null (not remembered) when the heap
    // refuses. A failure to grow the list of blocks throws std::bad_alloc, the framework's
    // out-of-memory exception.
    uint8_t* Allocate(size_t size);
    // Takes one block back out of the arena, wipes and frees it (used when a receive fails
    // midway).
    void Forget(uint8_t* block);
    // Wipes and frees every remembered block.
    void Release();
    size_t BlockCount() const { return m_blocks.size(); }

private:
    struct Block {
        uint8_t* data;
        size_t size;
    };
    void Free(const Block& block);

    IArenaHeap* m_pHeap;
    std::vector<Block> m_blocks;
};

}  // namespace corvane
