#ifndef PLATFORM_BAREMETAL_OS_TIMER_H
#define PLATFORM_BAREMETAL_OS_TIMER_H

#include <cstdint>

#include "processor.h"

namespace board {

// Makes OS timer match 0 the one interrupt source that ends idle, whatever
// a boot loader left enabled. IRQs stay masked in the core: the pending
// interrupt only wakes it, and the sleeping code sees the match in the
// timer's status.
void InitOsTimer(Processor processor);
// Idles the core until OSCR0 has advanced by `ticks`.
void SleepTicks(std::uint32_t ticks);
// OSCR0 as it stands: it counts from reset, whether or not InitOsTimer ran.
std::uint32_t ReadOsTimer();
// Leaves the timer and the interrupt controller quiet for good: no match
// enabled or pending, every source masked, so that idle never ends.
void StopOsTimer(Processor processor);

}  // namespace board

#endif  // PLATFORM_BAREMETAL_OS_TIMER_H
