#include "device_executable.h"

#include "ce_process.h"

namespace gpio_sim {

bool CanRunDeviceExecutables(std::string&) { return true; }

int RunDeviceExecutable(const std::vector<std::uint8_t>& file, std::string& report) {
    ce_process::ProcessOptions options;
    options.core = ce_process::Core::kPxa270;  // the simulated board's GPIO unit is a PXA27x's
    const ce_process::ProcessResult result = ce_process::RunProcess(file, options);
    report = result.report;
    return result.exitCode;
}

}  // namespace gpio_sim
