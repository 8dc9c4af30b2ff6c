#ifndef PLATFORM_BACKEND_REGISTER_ACCESS_H
#define PLATFORM_BACKEND_REGISTER_ACCESS_H

// Register access on real hardware (and on a board emulator), shared by the
// backends that run there. The register window is mapped uncached, so each
// call is exactly one 32-bit load or store through a volatile pointer: the
// compiler may neither merge, split, reorder nor drop it.
// This header must not pull in any system header: the driver sees it, and
// <windows.h> defines the platform constants' names as macros.

#include <cstdint>

namespace platform {

inline std::uint32_t ReadRegister32(const volatile std::uint32_t* reg) { return *reg; }
inline void WriteRegister32(volatile std::uint32_t* reg, std::uint32_t value) { *reg = value; }

}  // namespace platform

#endif  // PLATFORM_BACKEND_REGISTER_ACCESS_H
