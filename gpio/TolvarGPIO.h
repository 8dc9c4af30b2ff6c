#ifndef GPIO_TOLVAR_GPIO_H
#define GPIO_TOLVAR_GPIO_H

// GPIO33 and GPIO80 of the PXA2xx as one 2-bit quantity: bit 1 is GPIO33,
// bit 0 is GPIO80. In a direction mask a set bit makes the line an output;
// in a value or a sample a set bit is a high level. Higher bits are ignored.

#include <cstddef>
#include <cstdint>
#include <new>

#include "GpioRegisterBlock.h"

class TolvarGPIO {
public:
    // Maps the register block, switches both lines to plain GPIO while they
    // are inputs, then applies `directionMask`. If the block cannot be
    // mapped, the object stays unmapped: see IsMapped().
    explicit TolvarGPIO(std::uint8_t directionMask);
    // Releases the mapping; the lines keep their last state.
    ~TolvarGPIO();

    TolvarGPIO(const TolvarGPIO&) = delete;
    TolvarGPIO& operator=(const TolvarGPIO&) = delete;

    void SetDirection(std::uint8_t mask);
    // Drives each output line to its bit of `value`; input lines are left alone.
    void WriteLines(std::uint8_t value);
    // Levels of the input lines; an output line reads as 0.
    std::uint8_t ReadLines();

    // False when the register block could not be mapped. Such an object
    // touches no register: its operations do nothing and ReadLines gives 0.
    bool IsMapped() const { return GpioRegs != nullptr; }
    std::uint8_t Directions() const { return DirectionMask; }

    // The object lives in the platform's object storage, which reports
    // exhaustion as null rather than by throwing.
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* storage) noexcept;
    static void operator delete(void* storage, const std::nothrow_t&) noexcept;

private:
    GpioRegisterBlock* GpioRegs;
    std::uint8_t DirectionMask;
};

// Maps the 64 KiB register window at `physicalAddress` uncached into this
// process; null (after printing the failed call) when it cannot.
GpioRegisterBlock* MapRegisters(std::uint32_t physicalAddress);
// Releases a window made by MapRegisters.
void UnmapRegisters(GpioRegisterBlock* address);

#endif  // GPIO_TOLVAR_GPIO_H
