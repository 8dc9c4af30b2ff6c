#include "local_heap.h"

#include <cstring>

namespace ce_process {

void* LocalHeap::Allocate(std::uint32_t flags, std::uint32_t bytes) {
    if ((flags & ~LMEM_ZEROINIT) != LMEM_FIXED || bytes > kBlockSize) return nullptr;
    for (std::size_t i = 0; i < kBlockCount; ++i) {
        if (held_[i]) continue;
        held_[i] = true;
        // Fresh memory is not zero on a board: only LMEM_ZEROINIT promises it.
        std::memset(blocks_[i], (flags & LMEM_ZEROINIT) != 0 ? 0 : 0xA5, kBlockSize);
        return blocks_[i];
    }
    return nullptr;
}

void* LocalHeap::Release(void* block) {
    if (block == nullptr) return nullptr;  // as LocalFree(NULL) does
    const std::size_t index = IndexOf(block);
    if (index == kBlockCount || !held_[index]) return block;
    held_[index] = false;
    return nullptr;
}

std::uint32_t LocalHeap::BlocksHeld() const {
    std::uint32_t count = 0;
    for (bool inUse : held_) count += inUse ? 1 : 0;
    return count;
}

std::size_t LocalHeap::IndexOf(const void* block) const {
    for (std::size_t i = 0; i < kBlockCount; ++i) {
        if (block == blocks_[i]) return i;
    }
    return kBlockCount;
}

}  // namespace ce_process
