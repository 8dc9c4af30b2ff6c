#ifndef PLATFORM_BAREMETAL_CORE_IDLE_H
#define PLATFORM_BAREMETAL_CORE_IDLE_H

namespace board {

// PXA2xx idle mode (CP14 PWRMODE = 1): the core's clock stops until an
// interrupt that the interrupt controller lets through is pending, even
// with IRQs masked in the core.
inline void IdleCore() { asm volatile("mcr p14, 0, %0, c7, c0, 0" ::"r"(1) : "memory"); }

}  // namespace board

#endif  // PLATFORM_BAREMETAL_CORE_IDLE_H
