#ifndef PLATFORM_BAREMETAL_FFUART_H
#define PLATFORM_BAREMETAL_FFUART_H

#include <cstddef>

namespace board {

// 115200 8N1, polled, no interrupts. The boot loader has already given the
// UART its pins; this code never touches the GPIO unit.
void InitUart();
// Sends the bytes exactly as given, waiting for room before each one.
void UartWrite(const char* bytes, std::size_t length);

}  // namespace board

#endif  // PLATFORM_BAREMETAL_FFUART_H
