#include "code_memory.h"

#include "mmu.h"

namespace ce_loader {
namespace {

constexpr std::uint32_t kCacheLine = 32;

}  // namespace

void MakeCodeVisible(std::uint32_t address, std::uint32_t size) {
    const std::uint32_t end = address + size;
    for (std::uint32_t line = address & ~(kCacheLine - 1); line < end; line += kCacheLine) {
        asm volatile("mcr p15, 0, %0, c7, c10, 1" ::"r"(line) : "memory");  // clean data line
    }
    asm volatile("mcr p15, 0, %0, c7, c10, 4" ::"r"(0) : "memory");  // drain the write buffer
    asm volatile("mcr p15, 0, %0, c7, c5, 0" ::"r"(0) : "memory");   // invalidate I-cache and BTB
    asm volatile("mcr p15, 0, %0, c7, c5, 6" ::"r"(0) : "memory");   // and the BTB explicitly
    board::CpWait();  // the invalidation has taken effect before the next fetch
}

}  // namespace ce_loader
