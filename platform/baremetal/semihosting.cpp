#include "semihosting.h"

#include <cstdint>

namespace board {
namespace {

constexpr std::uint32_t kSysExitExtended = 0x20;
constexpr std::uint32_t kApplicationExit = 0x20026;  // ADP_Stopped_ApplicationExit

}  // namespace

void SemihostingExit(int status) {
    const std::uint32_t block[2] = {kApplicationExit, static_cast<std::uint32_t>(status)};
    // The semihosting trap. Without a debugger it is a real SVC: it takes
    // LR_svc (this code runs in SVC mode) and the SWI vector resumes here,
    // so lr is declared clobbered and saved around it.
    asm volatile(
        "mov r0, %0\n"
        "mov r1, %1\n"
        "svc %2\n"
        :
        : "r"(kSysExitExtended), "r"(block), "i"(kSemihostingTrap)
        : "r0", "r1", "lr", "memory");
}

}  // namespace board
