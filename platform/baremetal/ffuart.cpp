#include "ffuart.h"

#include "os_timer.h"
#include "platform.h"
#include "pxa2xx_map.h"

namespace board {
namespace {

constexpr std::uint32_t kLcrDivisorLatch = 0x80;
constexpr std::uint32_t kLcr8N1 = 0x03;
// 16 x 115200 Bd from the UART clock: exact with the PXA25x's 14.7456 MHz;
// the PXA27x's 14.857 MHz gives about 116 kBd, 0.8 % fast, well within what
// a receiver tolerates.
constexpr std::uint32_t kDivisor115200 = 8;
constexpr std::uint32_t kFcrEnableAndClear = 0x07;
constexpr std::uint32_t kIerUnitEnable = 0x40;
// A full 64-byte FIFO at 9600 Bd takes 67 ms; 400000 ticks are 0.11 s at
// 3.6864 MHz, 0.12 s at 3.25 MHz.
constexpr std::uint32_t kBootLoaderOutputTicks = 400000;

volatile std::uint32_t* Uart(std::uint32_t offset) { return Register(kFfuartBase, offset); }

bool TransmitterEmpty() {
    return (platform::ReadRegister32(Uart(kUartLsr)) & kLsrTransmitterEmpty) != 0;
}

}  // namespace

void InitUart() {
    using platform::WriteRegister32;
    const std::uint32_t start = ReadOsTimer();
    while (!TransmitterEmpty() && ReadOsTimer() - start < kBootLoaderOutputTicks) {
    }
    WriteRegister32(Uart(kUartLcr), kLcrDivisorLatch | kLcr8N1);
    WriteRegister32(Uart(kUartDll), kDivisor115200);
    WriteRegister32(Uart(kUartDlh), 0);
    WriteRegister32(Uart(kUartLcr), kLcr8N1);
    WriteRegister32(Uart(kUartFcr), kFcrEnableAndClear);
    WriteRegister32(Uart(kUartIer), kIerUnitEnable);
}

void UartWrite(const char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        while ((platform::ReadRegister32(Uart(kUartLsr)) & kLsrTransmitRoom) == 0) {
        }
        platform::WriteRegister32(Uart(kUartRbrThr), static_cast<unsigned char>(bytes[i]));
    }
}

void UartDrain() {
    while (!TransmitterEmpty()) {
    }
}

}  // namespace board
