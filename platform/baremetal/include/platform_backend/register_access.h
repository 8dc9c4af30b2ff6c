#ifndef PLATFORM_BACKEND_REGISTER_ACCESS_H
#define PLATFORM_BACKEND_REGISTER_ACCESS_H

#include <cstdint>

namespace platform {

// On the board a register is device memory: each call is exactly one 32-bit
// load or store, never merged, split, cached or reordered by the compiler.
inline std::uint32_t ReadRegister32(const volatile std::uint32_t* reg) { return *reg; }
inline void WriteRegister32(volatile std::uint32_t* reg, std::uint32_t value) { *reg = value; }

}  // namespace platform

#endif  // PLATFORM_BACKEND_REGISTER_ACCESS_H
