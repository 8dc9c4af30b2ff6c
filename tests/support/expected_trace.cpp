#include "expected_trace.h"

#include <cstdio>

namespace expected {
namespace {

constexpr int kCycles = 30;
constexpr int kSamples = 600;

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

void Append(std::vector<Access>& to, const std::vector<Access>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace

Access Read(std::uint32_t offset, std::uint32_t value) {
    return {host::PxaGpioModel::AccessKind::Read, offset, value, 0};
}

Access Write(std::uint32_t offset, std::uint32_t value) {
    return {host::PxaGpioModel::AccessKind::Write, offset, value, 0};
}

std::string Hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

std::string RegisterReport(const char* name, std::uint32_t before, std::uint32_t after) {
    return std::string("    ") + name + " changed from " + Hex8(before) + " " + "to " +
           Hex8(after) + " ";
}

std::string SetDirection(std::uint32_t gpdr1Before, std::uint32_t gpdr1After,
                         std::uint32_t gpdr2Before, std::uint32_t gpdr2After) {
    return "+SetDirection()\r\n" + RegisterReport("GPDR1", gpdr1Before, gpdr1After) +
           RegisterReport("GPDR2", gpdr2Before, gpdr2After) + "-SetDirection()\r\n";
}

std::string Mapped(std::uint32_t base) {
    return "0x40e00000 mapped to: " + Hex8(base) + "\r\n";
}

std::string WholeRun(std::uint32_t base, unsigned sample) {
    std::string text = "+TolvarGPIOTest\r\n";
    text += "+TolvarGPIO(3)\r\n" + Mapped(base);
    text += SetDirection(0, 0, 0, 0);
    text += RegisterReport("GAFR1_L", 0, 0) + RegisterReport("GAFR2_U", 0, 0);
    text += SetDirection(0, kGpio33, 0, kGpio80);
    text += "-TolvarGPIO()\r\n";
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        for (unsigned pattern = 0; pattern < 4; ++pattern) text += "Writing " + Hex2(pattern) + "\r";
    }
    text += SetDirection(kGpio33, 0, kGpio80, 0);
    text += "\r\n";
    for (int i = 0; i < kSamples; ++i) text += "Read value: " + Hex2(sample) + "\r";
    text += "+~TolvarGPIO()\r\n-~TolvarGPIO()\r\n";
    text += "\r\n-TolvarGPIOTest\r\n";
    return text;
}

std::vector<Access> ReportedUpdate(std::uint32_t offset, std::uint32_t before,
                                   std::uint32_t after) {
    return {Read(offset, before), Read(offset, before), Write(offset, after), Read(offset, after)};
}

std::vector<Access> WholeRunAccesses(std::uint32_t gplr1, std::uint32_t gplr2) {
    std::vector<Access> log;
    // Construction: inputs, plain GPIO function, then outputs.
    Append(log, ReportedUpdate(GPDR1, 0, 0));
    Append(log, ReportedUpdate(GPDR2, 0, 0));
    Append(log, ReportedUpdate(GAFR1_L, 0, 0));
    Append(log, ReportedUpdate(GAFR2_U, 0, 0));
    Append(log, ReportedUpdate(GPDR1, 0, kGpio33));
    Append(log, ReportedUpdate(GPDR2, 0, kGpio80));
    // Write phase: set and clear registers read as 0, so each write is the bit.
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        for (unsigned pattern = 0; pattern < 4; ++pattern) {
            const std::uint32_t bank1 = (pattern & 2) != 0 ? GPSR1 : GPCR1;
            const std::uint32_t bank2 = (pattern & 1) != 0 ? GPSR2 : GPCR2;
            Append(log, {Read(bank1, 0), Write(bank1, kGpio33), Read(bank2, 0), Write(bank2, kGpio80)});
        }
    }
    Append(log, ReportedUpdate(GPDR1, kGpio33, 0));
    Append(log, ReportedUpdate(GPDR2, kGpio80, 0));
    for (int i = 0; i < kSamples; ++i) Append(log, {Read(GPLR1, gplr1), Read(GPLR2, gplr2)});
    return log;
}

}  // namespace expected
