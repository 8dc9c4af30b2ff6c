#ifndef PLATFORM_BAREMETAL_PXA27X_MAP_H
#define PLATFORM_BAREMETAL_PXA27X_MAP_H

// Physical addresses of the PXA27x peripherals the board support uses, and
// the board's SDRAM. Each peripheral sits alone in its 1 MiB section, which
// the translation table maps as device memory; the GPIO unit's section is
// deliberately left out, so the program reaches it only through a window.

#include <cstdint>

namespace board {

constexpr std::uint32_t kSdramBase = 0xA0000000;
constexpr std::uint32_t kSdramSize = 64u << 20;

// Full-function UART, a 16550 with registers 4 bytes apart.
constexpr std::uint32_t kFfuartBase = 0x40100000;
constexpr std::uint32_t kUartRbrThr = 0x00;  // receive buffer / transmit holding
constexpr std::uint32_t kUartIer = 0x04;     // bit 6: UART unit enable (PXA)
constexpr std::uint32_t kUartFcr = 0x08;
constexpr std::uint32_t kUartLcr = 0x0C;
constexpr std::uint32_t kUartLsr = 0x14;
constexpr std::uint32_t kUartDll = 0x00;  // with LCR.DLAB set
constexpr std::uint32_t kUartDlh = 0x04;

// OS timer: OSCR0 counts at 3.25 MHz; OSMR0 raises OSSR.M0 on a match.
constexpr std::uint32_t kOsTimerBase = 0x40A00000;
constexpr std::uint32_t kOsmr0 = 0x00;
constexpr std::uint32_t kOscr0 = 0x10;
constexpr std::uint32_t kOssr = 0x14;
constexpr std::uint32_t kOier = 0x1C;
constexpr std::uint32_t kOsTimerTicksPerMs = 3250;

// Interrupt controller.
constexpr std::uint32_t kIntcBase = 0x40D00000;
constexpr std::uint32_t kIcmr = 0x04;  // 1 = source enabled
constexpr std::uint32_t kIclr = 0x08;  // 0 = IRQ, 1 = FIQ
constexpr std::uint32_t kIccr = 0x14;  // bit 0 DIM: 0 = any enabled source ends idle
constexpr std::uint32_t kIrqOsTimer0 = 26;

inline volatile std::uint32_t* Register(std::uint32_t base, std::uint32_t offset) {
    return reinterpret_cast<volatile std::uint32_t*>(base + offset);
}

}  // namespace board

#endif  // PLATFORM_BAREMETAL_PXA27X_MAP_H
