#ifndef PLATFORM_BAREMETAL_FFUART_H
#define PLATFORM_BAREMETAL_FFUART_H

#include <cstddef>

namespace board {

// 115200 8N1, polled, no interrupts. The boot loader has already given the
// UART its pins; this code never touches the GPIO unit. What the boot loader
// was still sending goes out first: the FIFO is reset only once the
// transmitter is empty (or after about 0.1 s, should it never be).
void InitUart();
// Sends the bytes exactly as given, waiting for room before each one.
void UartWrite(const char* bytes, std::size_t length);
// Returns once the last byte has left the shift register.
void UartDrain();

}  // namespace board

#endif  // PLATFORM_BAREMETAL_FFUART_H
