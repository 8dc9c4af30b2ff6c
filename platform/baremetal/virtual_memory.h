#ifndef PLATFORM_BAREMETAL_VIRTUAL_MEMORY_H
#define PLATFORM_BAREMETAL_VIRTUAL_MEMORY_H

#include <cstdint>

namespace board {

// Window slots reserved by VirtualAlloc and not yet released: a program
// that ends with one left has lost it.
std::uint32_t WindowSlotsInUse();

}  // namespace board

#endif  // PLATFORM_BAREMETAL_VIRTUAL_MEMORY_H
