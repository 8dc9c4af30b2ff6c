#ifndef PLATFORM_BAREMETAL_SEMIHOSTING_H
#define PLATFORM_BAREMETAL_SEMIHOSTING_H

namespace board {

// The immediate of the semihosting SVC in ARM state.
constexpr unsigned kSemihostingTrap = 0x123456;

// Hands the exit status to an attached debugger or emulator (ARM
// semihosting, SYS_EXIT_EXTENDED). Returns when nobody is listening.
void SemihostingExit(int status);

}  // namespace board

#endif  // PLATFORM_BAREMETAL_SEMIHOSTING_H
