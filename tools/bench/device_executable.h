#ifndef TOOLS_BENCH_DEVICE_EXECUTABLE_H
#define TOOLS_BENCH_DEVICE_EXECUTABLE_H

// The device's own TolvarGPIOTest.exe in place of the host-built program:
// a Windows CE process on an emulated PXA270 or PXA255 core (tools/ce_process), on
// the simulated board as the session has set it up.

#include <cstdint>
#include <string>
#include <vector>

namespace gpio_bench {

// Whether this build can run one (it needs libunicorn); `error` says why not.
bool CanRunDeviceExecutables(std::string& error);

// The whole file, read once; false with `error` when it cannot be read.
bool ReadDeviceExecutable(const std::string& path, std::vector<std::uint8_t>& file, std::string& error);

// Runs it; returns its exit code. What the process itself reports (a refused
// file or call, an access violation) goes to `report`, a line each.
int RunDeviceExecutable(const std::vector<std::uint8_t>& file, bool pxa255Core, std::string& report);

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_DEVICE_EXECUTABLE_H
