#include "device_executable.h"

#include "ce_process.h"

namespace gpio_bench {

bool CanRunDeviceExecutables(std::string&) { return true; }

int RunDeviceExecutable(const std::vector<std::uint8_t>& file, bool pxa255Core, std::string& report) {
    ce_process::ProcessOptions options;
    options.core = pxa255Core ? ce_process::Core::kPxa255 : ce_process::Core::kPxa270;
    const ce_process::ProcessResult result = ce_process::RunProcess(file, options);
    report = result.report;
    return result.exitCode;
}

}  // namespace gpio_bench
