#include "device_executable.h"

namespace gpio_bench {

bool CanRunDeviceExecutables(std::string& error) {
    error = "this pxa-gpio-sim was built without an emulated XScale core (sudo apt-get install libunicorn-dev "
            "pkg-config, then build again)";
    return false;
}

int RunDeviceExecutable(const std::vector<std::uint8_t>&, bool, std::string& report) {
    report = "no emulated XScale core in this build\n";
    return 2;
}

}  // namespace gpio_bench
