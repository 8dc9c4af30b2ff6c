// LocalAlloc and LocalFree as the CE process offers them to a program: no
// more lenient than CE, so that a program's bug with its memory shows.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "local_heap.h"

namespace {

using ce_process::LMEM_FIXED;
using ce_process::LMEM_ZEROINIT;

ce_process::LocalHeap heap;
void* LocalAllocate(std::uint32_t flags, std::uint32_t bytes) { return heap.Allocate(flags, bytes); }
void* LocalRelease(void* block) { return heap.Release(block); }
std::uint32_t LocalBlocksHeld() { return heap.BlocksHeld(); }

// A program that reads memory it never wrote must not find zeros by luck:
// only LMEM_ZEROINIT promises them. Both kinds come from a block that held
// other bytes before.
TEST(CeLocalHeap, OnlyZeroInitMemoryComesZeroed) {
    for (std::uint32_t flags : {LMEM_FIXED, LMEM_ZEROINIT}) {
        auto* block = static_cast<std::uint8_t*>(LocalAllocate(flags, 64));
        ASSERT_NE(block, nullptr);
        bool allZero = true;
        for (int i = 0; i < 64; ++i) allZero = allZero && block[i] == 0;
        EXPECT_EQ(allZero, flags == LMEM_ZEROINIT) << "flags " << flags;
        for (int i = 0; i < 64; ++i) block[i] = 0x5A;
        EXPECT_EQ(LocalRelease(block), nullptr);
    }
}

// LocalFree returns null only for a block it gave out and still holds; any
// other pointer comes back, as CE reports a failed free, and the count of
// held blocks (the process's report at exit) stays right.
TEST(CeLocalHeap, FreesOnlyItsOwnBlocksOnceAndCountsWhatIsHeld) {
    ASSERT_EQ(LocalBlocksHeld(), 0u);
    void* block = LocalAllocate(LMEM_FIXED, 16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LocalBlocksHeld(), 1u);
    int notOurs = 0;
    EXPECT_EQ(LocalRelease(&notOurs), &notOurs);
    void* inside = static_cast<std::uint8_t*>(block) + 4;
    EXPECT_EQ(LocalRelease(inside), inside);
    EXPECT_EQ(LocalBlocksHeld(), 1u);
    EXPECT_EQ(LocalRelease(block), nullptr);
    EXPECT_EQ(LocalRelease(block), block) << "a second free of the same block succeeded";
    EXPECT_EQ(LocalRelease(nullptr), nullptr);
    EXPECT_EQ(LocalBlocksHeld(), 0u);
}

// Moveable memory, other flags and blocks larger than the arena's are
// refused; an exhausted arena says so rather than hand out a block twice.
TEST(CeLocalHeap, RefusesWhatItCannotHonour) {
    constexpr std::uint32_t kMoveable = 0x0002;
    EXPECT_EQ(LocalAllocate(kMoveable, 16), nullptr);
    EXPECT_EQ(LocalAllocate(LMEM_FIXED, 0x1001), nullptr);
    std::vector<void*> held;
    for (void* block; (block = LocalAllocate(LMEM_FIXED, 0x1000)) != nullptr;) held.push_back(block);
    EXPECT_EQ(held.size(), 8u);
    EXPECT_EQ(LocalBlocksHeld(), 8u);
    for (void* block : held) EXPECT_EQ(LocalRelease(block), nullptr);
    EXPECT_EQ(LocalBlocksHeld(), 0u);
}

}  // namespace
