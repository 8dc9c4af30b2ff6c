#ifndef GPIO_GPIO_REGISTER_BLOCK_H
#define GPIO_GPIO_REGISTER_BLOCK_H

// The GPIO unit of the PXA2xx, banks 0 to 2 and the alternate-function
// registers, as laid out from its physical base. Members are never read or
// written directly: their addresses go to ReadRegister32/WriteRegister32.

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t kGpioPhysicalBase = 0x40E00000;
constexpr std::uint32_t kGpioWindowSize = 0x10000;  // mapped as one 64 KiB range

struct GpioRegisterBlock {
    volatile std::uint32_t GPLR0, GPLR1, GPLR2;  // pin levels
    volatile std::uint32_t GPDR0, GPDR1, GPDR2;  // directions, 1 = output
    volatile std::uint32_t GPSR0, GPSR1, GPSR2;  // output set, write-only
    volatile std::uint32_t GPCR0, GPCR1, GPCR2;  // output clear, write-only
    volatile std::uint32_t GRER0, GRER1, GRER2;  // rising-edge detect enable
    volatile std::uint32_t GFER0, GFER1, GFER2;  // falling-edge detect enable
    volatile std::uint32_t GEDR0, GEDR1, GEDR2;  // edge detect status
    volatile std::uint32_t GAFR0_L, GAFR0_U;     // alternate functions, 2 bits a line
    volatile std::uint32_t GAFR1_L, GAFR1_U;
    volatile std::uint32_t GAFR2_L, GAFR2_U;
};

static_assert(offsetof(GpioRegisterBlock, GPLR1) == 0x04, "GPLR1");
static_assert(offsetof(GpioRegisterBlock, GPLR2) == 0x08, "GPLR2");
static_assert(offsetof(GpioRegisterBlock, GPDR1) == 0x10, "GPDR1");
static_assert(offsetof(GpioRegisterBlock, GPDR2) == 0x14, "GPDR2");
static_assert(offsetof(GpioRegisterBlock, GPSR1) == 0x1C, "GPSR1");
static_assert(offsetof(GpioRegisterBlock, GPSR2) == 0x20, "GPSR2");
static_assert(offsetof(GpioRegisterBlock, GPCR1) == 0x28, "GPCR1");
static_assert(offsetof(GpioRegisterBlock, GPCR2) == 0x2C, "GPCR2");
static_assert(offsetof(GpioRegisterBlock, GAFR1_L) == 0x5C, "GAFR1_L");
static_assert(offsetof(GpioRegisterBlock, GAFR2_U) == 0x68, "GAFR2_U");
static_assert(sizeof(GpioRegisterBlock) <= kGpioWindowSize, "block fits the mapping");

#endif  // GPIO_GPIO_REGISTER_BLOCK_H
