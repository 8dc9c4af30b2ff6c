#ifndef PLATFORM_BAREMETAL_BOARD_H
#define PLATFORM_BAREMETAL_BOARD_H

#include <cstdint>

namespace board {

// Exit status of a program stopped by a processor exception.
constexpr int kExitProcessorException = 3;

// Registers as the exception entry saved them: r0-r12, then the address of
// the instruction the exception concerns.
struct ExceptionFrame {
    std::uint32_t r[13];
    std::uint32_t pc;
};

// A data abort normally ends the program. Board tests install an observer
// instead: the abort is still reported, then the observer is told and the
// faulting instruction is skipped, which is only sound for a plain load or
// store that does not also update its base register. Null restores the
// default.
using AbortObserver = void (*)(std::uint32_t faultAddress, std::uint32_t faultStatus);
void SetAbortObserver(AbortObserver observer);

// Leaves the program: lets the UART finish sending, masks the OS timer and
// every interrupt source, then hands the status to the debugger or emulator
// if one listens; otherwise the core idles for good in BoardIdleForGood.
[[noreturn]] void Exit(int status);

}  // namespace board

extern "C" {
// Called by the reset code before main, and with main's result after it.
void BoardInit();
[[noreturn]] void BoardExit(int status);
// Where an exited program stays: the core idles with its stack unchanged.
[[noreturn]] void BoardIdleForGood();
}

#endif  // PLATFORM_BAREMETAL_BOARD_H
