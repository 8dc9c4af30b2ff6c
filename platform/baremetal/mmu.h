#ifndef PLATFORM_BAREMETAL_MMU_H
#define PLATFORM_BAREMETAL_MMU_H

// The XScale MMU, set up once at start: SDRAM flat-mapped and cacheable, the
// few peripherals the board support needs flat-mapped as device memory, the
// exception vectors at 0xFFFF0000, and a window area whose pages fault until
// something is mapped into them. Everything else faults.

#include <cstdint>

namespace board {

constexpr std::uint32_t kPageSize = 0x1000;
// 1 MiB of virtual space for device windows, described 4 KiB a page.
constexpr std::uint32_t kWindowAreaBase = 0x60000000;
constexpr std::uint32_t kWindowAreaSize = 0x100000;

void EnableMmu();

// CPWAIT: makes a CP15 change (a mapping, a cache or TLB operation) take
// effect before the next instruction is fetched.
inline void CpWait() {
    std::uint32_t scratch;
    asm volatile(
        "mrc p15, 0, %0, c2, c0, 0\n"
        "mov %0, %0\n"
        "sub pc, pc, #4\n"
        : "=r"(scratch)::"memory");
}

// Maps [virtualAddress, +size) of the window area onto physical pages as
// uncached, unbuffered device memory, or unmaps it again. Both keep the
// table walk and the TLBs coherent with the change before they return.
// Addresses and size are page-aligned and lie inside the window area.
void MapDevicePages(std::uint32_t virtualAddress, std::uint32_t physicalAddress,
                    std::uint32_t size);
void UnmapPages(std::uint32_t virtualAddress, std::uint32_t size);

// The descriptors as the table walk finds them, for the board's own tests:
// the first-level one of any address, and the small-page one of an address
// in the window area.
std::uint32_t FirstLevelDescriptor(std::uint32_t virtualAddress);
std::uint32_t WindowPageDescriptor(std::uint32_t virtualAddress);

}  // namespace board

#endif  // PLATFORM_BAREMETAL_MMU_H
