// VirtualAlloc, VirtualCopy and VirtualFree on the bare board: 64 KiB
// slots of the MMU's window area. A reserved slot faults on every access
// until VirtualCopy maps physical pages into it; release unmaps it again.

#include <cstdint>

#include "mmu.h"
#include "platform.h"
#include "pxa2xx_map.h"
#include "virtual_memory.h"

namespace platform {
namespace {

constexpr std::uint32_t kSlotSize = 0x10000;
constexpr std::uint32_t kSlotCount = board::kWindowAreaSize / kSlotSize;
constexpr DWORD kDeviceMapping = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
constexpr std::uint32_t kLargestPhysicalPageNumber = 0xFFFFFFFFu >> 8;

// Whether [physical, physical + size) lies inside a device a program may map:
// a range over anything else (SDRAM, the board's own UART and timer, or no
// device at all) is refused, as CE refuses a range no device holds.
bool HoldsADevice(std::uint32_t physical, std::uint32_t size) {
    return physical >= board::kGpioBase && size <= board::kGpioSize &&
           physical - board::kGpioBase <= board::kGpioSize - size;
}

enum class Slot : std::uint8_t { kFree, kReserved, kMapped };
Slot slots[kSlotCount];

std::uint32_t SlotBase(std::uint32_t index) { return board::kWindowAreaBase + index * kSlotSize; }

// The slot that starts exactly at `address`, or kSlotCount.
std::uint32_t SlotAt(LPVOID address) {
    const auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
    if (value < board::kWindowAreaBase || value % kSlotSize != 0) return kSlotCount;
    const std::uint32_t index = (value - board::kWindowAreaBase) / kSlotSize;
    return index < kSlotCount ? index : kSlotCount;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    if (address != nullptr || size == 0 || size > kSlotSize || allocationType != MEM_RESERVE ||
        protect != PAGE_NOACCESS) {
        return nullptr;
    }
    for (std::uint32_t index = 0; index < kSlotCount; ++index) {
        if (slots[index] == Slot::kFree) {
            slots[index] = Slot::kReserved;
            return reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(SlotBase(index)));
        }
    }
    return nullptr;
}

BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    const std::uint32_t index = SlotAt(destination);
    const auto pageNumber = reinterpret_cast<std::uintptr_t>(source);
    // Only what this board can honour: uncached physical pages, whole pages.
    if (index == kSlotCount || slots[index] != Slot::kReserved || protect != kDeviceMapping ||
        size == 0 || size > kSlotSize || size % board::kPageSize != 0 ||
        pageNumber > kLargestPhysicalPageNumber) {
        return 0;
    }
    const auto physical = static_cast<std::uint32_t>(pageNumber << 8);
    if (physical % board::kPageSize != 0 || !HoldsADevice(physical, size)) return 0;
    board::MapDevicePages(SlotBase(index), physical, size);
    slots[index] = Slot::kMapped;
    return 1;
}

BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    const std::uint32_t index = SlotAt(address);
    if (index == kSlotCount || slots[index] == Slot::kFree || size != 0 || freeType != MEM_RELEASE) {
        return 0;
    }
    if (slots[index] == Slot::kMapped) board::UnmapPages(SlotBase(index), kSlotSize);
    slots[index] = Slot::kFree;
    return 1;
}

}  // namespace platform

namespace board {

std::uint32_t WindowSlotsInUse() {
    std::uint32_t count = 0;
    for (platform::Slot slot : platform::slots) count += slot != platform::Slot::kFree ? 1 : 0;
    return count;
}

}  // namespace board
