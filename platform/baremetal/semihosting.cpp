#include "semihosting.h"

#include <cstdint>

namespace board {
namespace {

constexpr std::uint32_t kSysExitExtended = 0x20;
constexpr std::uint32_t kApplicationExit = 0x20026;  // ADP_Stopped_ApplicationExit

}  // namespace

void SemihostingExit(int status) {
    const std::uint32_t block[2] = {kApplicationExit, static_cast<std::uint32_t>(status)};
    // The semihosting trap; without a debugger
    // it reaches the SWI vector, which resumes here.
    asm volatile(
        "mov r0, %0\n"
        "mov r1, %1\n"
        "svc %2\n"
        :
        : "r"(kSysExitExtended), "r"(block), "i"(kSemihostingTrap)
        : "r0", "r1", "memory");
}

}  // namespace board
