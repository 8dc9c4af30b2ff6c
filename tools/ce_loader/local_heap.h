#ifndef TOOLS_CE_LOADER_LOCAL_HEAP_H
#define TOOLS_CE_LOADER_LOCAL_HEAP_H

// LocalAlloc and LocalFree for the loaded program: a small arena of fixed
// blocks, enough for the objects a diagnostic program makes, and a count of
// what is still held, so that a block never freed is seen at exit.

#include <cstddef>
#include <cstdint>

namespace ce_loader {

constexpr std::uint32_t LMEM_FIXED = 0x0000;
constexpr std::uint32_t LMEM_ZEROINIT = 0x0040;

// Null when the flags ask for more than fixed (optionally zeroed) memory,
// or when the arena is exhausted.
void* LocalAllocate(std::uint32_t flags, std::uint32_t bytes);
// Null on success; the block itself when it is not one of ours.
void* LocalRelease(void* block);
std::uint32_t LocalBlocksHeld();

}  // namespace ce_loader

#endif  // TOOLS_CE_LOADER_LOCAL_HEAP_H
