#ifndef PLATFORM_BAREMETAL_OS_TIMER_H
#define PLATFORM_BAREMETAL_OS_TIMER_H

#include <cstdint>

namespace board {

// Routes OS timer match 0 to the interrupt controller as the one source
// that ends idle. IRQs stay masked in the core: the pending interrupt only
// wakes it, and the sleeping code sees the match in the timer's status.
void InitOsTimer();
// Idles the core until OSCR0 has advanced by `ticks` (3.25 MHz).
void SleepTicks(std::uint32_t ticks);

}  // namespace board

#endif  // PLATFORM_BAREMETAL_OS_TIMER_H
