#ifndef PLATFORM_BAREMETAL_PROCESSOR_H
#define PLATFORM_BAREMETAL_PROCESSOR_H

// Which PXA2xx the image runs on, read from the CP15 main ID register at
// start-up. The two generations differ in what the board support touches:
// the OS timer's rate and match registers, and the PXA27x's second set of
// interrupt controller registers.

#include <cstdint>

namespace board {

enum class Processor : std::uint8_t { kUnknown, kPxa25x, kPxa27x };

// Exit status of a program stopped because the core is not a PXA25x or PXA27x.
constexpr int kExitUnknownProcessor = 4;

std::uint32_t ReadMainId();
// Intel (implementer 0x69), ARMv5TE, and the XScale core generation in
// bits 15:13: 1 on the PXA25x, 2 on the PXA27x.
Processor IdentifyProcessor(std::uint32_t mainId);

// Set once by the start-up from the main ID; kUnknown before.
Processor ThisProcessor();
void SetThisProcessor(Processor processor);

// OS timer ticks in `milliseconds`, rounded up, exact for whole
// milliseconds of a 3.25 MHz counter and for multiples of 5 ms of a
// 3.6864 MHz one. `milliseconds` is at most 600000.
std::uint32_t OsTimerTicks(Processor processor, std::uint32_t milliseconds);

}  // namespace board

#endif  // PLATFORM_BAREMETAL_PROCESSOR_H
