#include "local_heap.h"

#include <cstring>

namespace ce_loader {
namespace {

constexpr std::size_t kBlockCount = 8;
constexpr std::size_t kBlockSize = 256;

alignas(8) unsigned char blocks[kBlockCount][kBlockSize];
bool held[kBlockCount];

}  // namespace

void* LocalAllocate(std::uint32_t flags, std::uint32_t bytes) {
    if ((flags & ~LMEM_ZEROINIT) != LMEM_FIXED || bytes > kBlockSize) return nullptr;
    for (std::size_t i = 0; i < kBlockCount; ++i) {
        if (held[i]) continue;
        held[i] = true;
        // Fresh memory is not zero on a board: only LMEM_ZEROINIT promises it.
        std::memset(blocks[i], (flags & LMEM_ZEROINIT) != 0 ? 0 : 0xA5, kBlockSize);
        return blocks[i];
    }
    return nullptr;
}

void* LocalRelease(void* block) {
    if (block == nullptr) return nullptr;  // as LocalFree(NULL) does
    for (std::size_t i = 0; i < kBlockCount; ++i) {
        if (block == blocks[i] && held[i]) {
            held[i] = false;
            return nullptr;
        }
    }
    return block;
}

std::uint32_t LocalBlocksHeld() {
    std::uint32_t count = 0;
    for (bool inUse : held) count += inUse ? 1 : 0;
    return count;
}

}  // namespace ce_loader
