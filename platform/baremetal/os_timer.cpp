#include "os_timer.h"

#include "core_idle.h"
#include "platform.h"
#include "pxa2xx_map.h"

namespace board {
namespace {

constexpr std::uint32_t kMatch0 = 1u << 0;
constexpr std::uint32_t kIccrOnlyEnabledSourcesWake = 1u << 0;  // DIM

volatile std::uint32_t* OsTimer(std::uint32_t offset) { return Register(kOsTimerBase, offset); }
volatile std::uint32_t* Intc(std::uint32_t offset) { return Register(kIntcBase, offset); }

}  // namespace

void InitOsTimer(Processor processor) {
    using platform::ReadRegister32;
    using platform::WriteRegister32;
    constexpr std::uint32_t source = 1u << kIrqOsTimer0;
    WriteRegister32(OsTimer(kOier), kMatch0);
    WriteRegister32(OsTimer(kOssr), kMatch0);
    WriteRegister32(Intc(kIclr), ReadRegister32(Intc(kIclr)) & ~source);
    // With DIM set only the sources enabled in the mask end idle, so the
    // mask holds the timer's match and nothing else.
    WriteRegister32(Intc(kIccr), kIccrOnlyEnabledSourcesWake);
    WriteRegister32(Intc(kIcmr), source);
    if (processor == Processor::kPxa27x) WriteRegister32(Intc(kIcmr2), 0);
}

void SleepTicks(std::uint32_t ticks) {
    using platform::ReadRegister32;
    using platform::WriteRegister32;
    const std::uint32_t start = ReadRegister32(OsTimer(kOscr0));
    WriteRegister32(OsTimer(kOssr), kMatch0);  // forget an old match
    WriteRegister32(OsTimer(kOsmr0), start + ticks);
    // The counter, not the wake-up, decides when the time is up; unsigned
    // differences keep that right across the counter's wrap.
    while (ReadRegister32(OsTimer(kOscr0)) - start < ticks) {
        if ((ReadRegister32(OsTimer(kOssr)) & kMatch0) == 0) IdleCore();
    }
    WriteRegister32(OsTimer(kOssr), kMatch0);  // acknowledge: the interrupt drops
}

std::uint32_t ReadOsTimer() { return platform::ReadRegister32(OsTimer(kOscr0)); }

void StopOsTimer(Processor processor) {
    using platform::WriteRegister32;
    const bool pxa27x = processor == Processor::kPxa27x;
    WriteRegister32(OsTimer(kOier), 0);
    WriteRegister32(OsTimer(kOssr), pxa27x ? kOsTimerMatchesPxa27x : kOsTimerMatchesPxa25x);
    WriteRegister32(Intc(kIcmr), 0);
    if (pxa27x) WriteRegister32(Intc(kIcmr2), 0);
}

}  // namespace board
