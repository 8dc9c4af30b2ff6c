#ifndef PLATFORM_BACKEND_REGISTER_ACCESS_H
#define PLATFORM_BACKEND_REGISTER_ACCESS_H

#include <cstdint>

namespace platform {

// On the host the mapped window has no access rights, so a register is only
// reachable through these calls, which route each access to the device model.
std::uint32_t ReadRegister32(const volatile std::uint32_t* reg);
void WriteRegister32(volatile std::uint32_t* reg, std::uint32_t value);

}  // namespace platform

#endif  // PLATFORM_BACKEND_REGISTER_ACCESS_H
