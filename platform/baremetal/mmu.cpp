#include "mmu.h"

#include "pxa2xx_map.h"

extern "C" char __vector_page[];  // the exception vector page (linker script)

namespace board {
namespace {

// First-level descriptors. Bit 4 stays clear: the XScale requires it.
constexpr std::uint32_t kCoarseTable = 0x1;
constexpr std::uint32_t kSection = 0x2;
constexpr std::uint32_t kBufferable = 1u << 2;
constexpr std::uint32_t kCacheable = 1u << 3;
constexpr std::uint32_t kSectionPrivilegedRw = 1u << 10;  // AP = 01
// Second-level (coarse table) small page: AP = 01 for all four subpages.
constexpr std::uint32_t kSmallPage = 0x2;
constexpr std::uint32_t kSmallPagePrivilegedRw = 0x55u << 4;

constexpr std::uint32_t kSectionShift = 20;
constexpr std::uint32_t kPageShift = 12;
constexpr std::uint32_t kHighVectors = 0xFFFF0000;

// Control register bits.
constexpr std::uint32_t kMmuOn = 1u << 0;
constexpr std::uint32_t kAlignmentFaults = 1u << 1;
constexpr std::uint32_t kDataCache = 1u << 2;
constexpr std::uint32_t kBranchTargetBuffer = 1u << 11;
constexpr std::uint32_t kInstructionCache = 1u << 12;
constexpr std::uint32_t kHighVectorBase = 1u << 13;

constexpr std::uint32_t kDomain0Client = 0x1;

alignas(16384) std::uint32_t translationTable[4096];
alignas(1024) std::uint32_t windowPages[256];
alignas(1024) std::uint32_t vectorPages[256];

std::uint32_t Address(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// The table walk reads memory, not the data cache: push a changed
// descriptor out of the cache and the write buffer before it is walked.
inline void PublishDescriptor(const std::uint32_t* descriptor) {
    asm volatile("mcr p15, 0, %0, c7, c10, 1" ::"r"(descriptor) : "memory");  // clean line
    asm volatile("mcr p15, 0, %0, c7, c10, 4" ::"r"(0) : "memory");           // drain
}

inline void InvalidateTlbEntry(std::uint32_t virtualAddress) {
    asm volatile("mcr p15, 0, %0, c8, c6, 1" ::"r"(virtualAddress) : "memory");  // data TLB
    asm volatile("mcr p15, 0, %0, c8, c5, 1" ::"r"(virtualAddress) : "memory");  // instruction TLB
}

void MapSection(std::uint32_t address, std::uint32_t attributes) {
    translationTable[address >> kSectionShift] =
        (address & ~((1u << kSectionShift) - 1)) | kSectionPrivilegedRw | attributes | kSection;
}

std::uint32_t& WindowEntry(std::uint32_t virtualAddress) {
    return windowPages[(virtualAddress - kWindowAreaBase) >> kPageShift];
}

}  // namespace

void EnableMmu() {
    for (std::uint32_t offset = 0; offset < kSdramSize; offset += 1u << kSectionShift) {
        MapSection(kSdramBase + offset, kCacheable | kBufferable);
    }
    MapSection(kFfuartBase, 0);
    MapSection(kOsTimerBase, 0);
    MapSection(kIntcBase, 0);

    translationTable[kWindowAreaBase >> kSectionShift] = Address(windowPages) | kCoarseTable;
    translationTable[kHighVectors >> kSectionShift] = Address(vectorPages) | kCoarseTable;
    vectorPages[(kHighVectors >> kPageShift) & 0xFF] =
        Address(__vector_page) | kSmallPagePrivilegedRw | kCacheable | kBufferable | kSmallPage;

    // The start-up found or left the caches off: the tables are in memory.
    asm volatile("mcr p15, 0, %0, c7, c7, 0" ::"r"(0) : "memory");  // invalidate caches, BTB
    asm volatile("mcr p15, 0, %0, c8, c7, 0" ::"r"(0) : "memory");  // invalidate TLBs
    asm volatile("mcr p15, 0, %0, c2, c0, 0" ::"r"(Address(translationTable)) : "memory");
    asm volatile("mcr p15, 0, %0, c3, c0, 0" ::"r"(kDomain0Client) : "memory");
    std::uint32_t control;
    asm volatile("mrc p15, 0, %0, c1, c0, 0" : "=r"(control));
    control |= kMmuOn | kAlignmentFaults | kDataCache | kBranchTargetBuffer | kInstructionCache |
               kHighVectorBase;
    asm volatile("mcr p15, 0, %0, c1, c0, 0" ::"r"(control) : "memory");
    CpWait();
}

void MapDevicePages(std::uint32_t virtualAddress, std::uint32_t physicalAddress,
                    std::uint32_t size) {
    for (std::uint32_t offset = 0; offset < size; offset += kPageSize) {
        std::uint32_t& entry = WindowEntry(virtualAddress + offset);
        // C = B = 0: every access goes to the bus, in order, at its width.
        entry = (physicalAddress + offset) | kSmallPagePrivilegedRw | kSmallPage;
        PublishDescriptor(&entry);
        InvalidateTlbEntry(virtualAddress + offset);  // it may hold the fault entry
    }
    CpWait();
}

void UnmapPages(std::uint32_t virtualAddress, std::uint32_t size) {
    for (std::uint32_t offset = 0; offset < size; offset += kPageSize) {
        std::uint32_t& entry = WindowEntry(virtualAddress + offset);
        entry = 0;
        PublishDescriptor(&entry);
        InvalidateTlbEntry(virtualAddress + offset);
    }
    CpWait();
}

std::uint32_t FirstLevelDescriptor(std::uint32_t virtualAddress) {
    return translationTable[virtualAddress >> kSectionShift];
}

std::uint32_t WindowPageDescriptor(std::uint32_t virtualAddress) {
    return WindowEntry(virtualAddress);
}

}  // namespace board
