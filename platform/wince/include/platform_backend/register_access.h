#ifndef PLATFORM_BACKEND_REGISTER_ACCESS_H
#define PLATFORM_BACKEND_REGISTER_ACCESS_H

// On the device the GPIO window is mapped uncached by VirtualCopy, so a
// register access is one 32-bit load or store through a volatile pointer:
// the compiler may neither merge, split, reorder nor drop it.
// This header must not pull in <windows.h>: it is seen by the driver, which
// names the platform constants that <windows.h> defines as macros.

#include <cstdint>

namespace platform {

inline std::uint32_t ReadRegister32(const volatile std::uint32_t* reg) { return *reg; }

inline void WriteRegister32(volatile std::uint32_t* reg, std::uint32_t value) { *reg = value; }

}  // namespace platform

#endif  // PLATFORM_BACKEND_REGISTER_ACCESS_H
