#ifndef TOOLS_CE_PROCESS_LOCAL_HEAP_H
#define TOOLS_CE_PROCESS_LOCAL_HEAP_H

// LocalAlloc and LocalFree for a CE process: a small arena of fixed blocks,
// enough for the objects a diagnostic program makes, and a count of what is
// still held, so that a block never freed is seen at exit. Each block is a
// page of its own, so that the process can give the program exactly the
// blocks it holds and nothing between them.

#include <cstddef>
#include <cstdint>

namespace ce_process {

constexpr std::uint32_t LMEM_FIXED = 0x0000;
constexpr std::uint32_t LMEM_ZEROINIT = 0x0040;

class LocalHeap {
public:
    static constexpr std::size_t kBlockCount = 8;
    static constexpr std::size_t kBlockSize = 0x1000;

    // Null when the flags ask for more than fixed (optionally zeroed) memory,
    // or when the arena is exhausted.
    void* Allocate(std::uint32_t flags, std::uint32_t bytes);
    // Null on success; the block itself when it is not one of ours.
    void* Release(void* block);
    std::uint32_t BlocksHeld() const;
    void* BlockAt(std::size_t index) { return blocks_[index]; }
    bool Holds(std::size_t index) const { return held_[index]; }
    // Which block `block` is, or kBlockCount.
    std::size_t IndexOf(const void* block) const;

private:
    alignas(kBlockSize) unsigned char blocks_[kBlockCount][kBlockSize] = {};
    bool held_[kBlockCount] = {};
};

}  // namespace ce_process

#endif  // TOOLS_CE_PROCESS_LOCAL_HEAP_H
