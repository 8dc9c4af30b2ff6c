#ifndef PLATFORM_BAREMETAL_PXA2XX_MAP_H
#define PLATFORM_BAREMETAL_PXA2XX_MAP_H

// Physical addresses of the PXA2xx peripherals the board support uses, the
// same on the PXA25x and the PXA27x, and the SDRAM the image lives in. Each
// peripheral sits alone in its 1 MiB section, which the translation table
// maps as device memory; the GPIO unit's section is deliberately left out,
// so the program reaches it only through a window.

#include <cstdint>

namespace board {

// Every supported board has at least 32 MiB at 0xA0000000 (QEMU's z2 has
// exactly that); the image and its tables need far less.
constexpr std::uint32_t kSdramBase = 0xA0000000;
constexpr std::uint32_t kSdramSize = 32u << 20;

// The GPIO unit: the one device a program maps into a window (VirtualCopy),
// 64 KiB of registers.
constexpr std::uint32_t kGpioBase = 0x40E00000;
constexpr std::uint32_t kGpioSize = 0x10000;

// Full-function UART, a 16550 with registers 4 bytes apart.
constexpr std::uint32_t kFfuartBase = 0x40100000;
constexpr std::uint32_t kUartRbrThr = 0x00;  // receive buffer / transmit holding
constexpr std::uint32_t kUartIer = 0x04;     // bit 6: UART unit enable (PXA)
constexpr std::uint32_t kUartFcr = 0x08;
constexpr std::uint32_t kUartLcr = 0x0C;
constexpr std::uint32_t kUartLsr = 0x14;
constexpr std::uint32_t kUartDll = 0x00;  // with LCR.DLAB set
constexpr std::uint32_t kUartDlh = 0x04;
constexpr std::uint32_t kLsrTransmitRoom = 1u << 5;    // TDRQ: FIFO half empty or less
constexpr std::uint32_t kLsrTransmitterEmpty = 1u << 6;  // TEMT: FIFO and shifter empty

// OS timer: OSCR0 counts at 3.6864 MHz on the PXA25x and 3.25 MHz on the
// PXA27x; OSMR0 raises OSSR.M0 on a match.
constexpr std::uint32_t kOsTimerBase = 0x40A00000;
constexpr std::uint32_t kOsmr0 = 0x00;
constexpr std::uint32_t kOscr0 = 0x10;
constexpr std::uint32_t kOssr = 0x14;
constexpr std::uint32_t kOier = 0x1C;
constexpr std::uint32_t kOsTimerMatchesPxa25x = 0xF;    // M0-M3
constexpr std::uint32_t kOsTimerMatchesPxa27x = 0xFFF;  // M0-M11

// Interrupt controller. The PXA27x has 34 sources; the ones above 31 are
// in a second set of registers that the PXA25x does not have.
constexpr std::uint32_t kIntcBase = 0x40D00000;
constexpr std::uint32_t kIcmr = 0x04;   // 1 = source enabled
constexpr std::uint32_t kIclr = 0x08;   // 0 = IRQ, 1 = FIQ
constexpr std::uint32_t kIccr = 0x14;   // bit 0 DIM: 1 = only enabled sources end idle
constexpr std::uint32_t kIcmr2 = 0xA0;  // PXA27x only
constexpr std::uint32_t kIrqOsTimer0 = 26;

inline volatile std::uint32_t* Register(std::uint32_t base, std::uint32_t offset) {
    return reinterpret_cast<volatile std::uint32_t*>(base + offset);
}

}  // namespace board

#endif  // PLATFORM_BAREMETAL_PXA2XX_MAP_H
