#include "ffuart.h"

#include "platform.h"
#include "pxa27x_map.h"

namespace board {
namespace {

constexpr std::uint32_t kLcrDivisorLatch = 0x80;
constexpr std::uint32_t kLcr8N1 = 0x03;
constexpr std::uint32_t kDivisor115200 = 8;  // 14.7456 MHz / (16 * 115200)
constexpr std::uint32_t kFcrEnableAndClear = 0x07;
constexpr std::uint32_t kIerUnitEnable = 0x40;
constexpr std::uint32_t kLsrTransmitHoldingEmpty = 0x20;

volatile std::uint32_t* Uart(std::uint32_t offset) { return Register(kFfuartBase, offset); }

}  // namespace

void InitUart() {
    using platform::WriteRegister32;
    WriteRegister32(Uart(kUartLcr), kLcrDivisorLatch | kLcr8N1);
    WriteRegister32(Uart(kUartDll), kDivisor115200);
    WriteRegister32(Uart(kUartDlh), 0);
    WriteRegister32(Uart(kUartLcr), kLcr8N1);
    WriteRegister32(Uart(kUartFcr), kFcrEnableAndClear);
    WriteRegister32(Uart(kUartIer), kIerUnitEnable);
}

void UartWrite(const char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        while ((platform::ReadRegister32(Uart(kUartLsr)) & kLsrTransmitHoldingEmpty) == 0) {
        }
        platform::WriteRegister32(Uart(kUartRbrThr), static_cast<unsigned char>(bytes[i]));
    }
}

}  // namespace board
