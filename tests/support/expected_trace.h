#ifndef TESTS_SUPPORT_EXPECTED_TRACE_H
#define TESTS_SUPPORT_EXPECTED_TRACE_H

// What the program is documented to print and to do on the bus, written out
// independently of its code: the tests compare the real thing against these.

#include <cstdint>
#include <string>
#include <vector>

#include "pxa_gpio_model.h"

namespace expected {

// Register offsets from the PXA27x manual.
constexpr std::uint32_t GPLR1 = 0x04, GPLR2 = 0x08, GPDR1 = 0x10, GPDR2 = 0x14;
constexpr std::uint32_t GPSR1 = 0x1C, GPSR2 = 0x20, GPCR1 = 0x28, GPCR2 = 0x2C;
constexpr std::uint32_t GAFR1_L = 0x5C, GAFR2_U = 0x68;
constexpr std::uint32_t kGpio33 = 1u << 1, kGpio80 = 1u << 16;

std::string Hex8(std::uint32_t value);
// "    NAME changed from 0x........ " followed by "to 0x........ ".
std::string RegisterReport(const char* name, std::uint32_t before, std::uint32_t after);
std::string SetDirection(std::uint32_t gpdr1Before, std::uint32_t gpdr1After,
                         std::uint32_t gpdr2Before, std::uint32_t gpdr2After);
std::string Mapped(std::uint32_t base);

// The whole run from power-up, with every sample reading `sample`.
std::string WholeRun(std::uint32_t base, unsigned sample);

using Access = host::PxaGpioModel::Access;
Access Read(std::uint32_t offset, std::uint32_t value);
Access Write(std::uint32_t offset, std::uint32_t value);

// A read-modify-write as the driver reports it: read, read, write, read.
std::vector<Access> ReportedUpdate(std::uint32_t offset, std::uint32_t before,
                                   std::uint32_t after);
// Every bus access of the run from power-up, with the level registers
// reading `gplr1` and `gplr2` throughout the read phase.
std::vector<Access> WholeRunAccesses(std::uint32_t gplr1, std::uint32_t gplr2);

}  // namespace expected

#endif  // TESTS_SUPPORT_EXPECTED_TRACE_H
