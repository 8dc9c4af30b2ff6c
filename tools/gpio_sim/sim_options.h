#ifndef TOOLS_GPIO_SIM_SIM_OPTIONS_H
#define TOOLS_GPIO_SIM_SIM_OPTIONS_H

// The simulator's command line.

#include <string>
#include <vector>

#include "board_fault_option.h"
#include "board_timing_option.h"
#include "drive_schedule.h"
#include "exercise_session.h"

namespace gpio_sim {

struct SimOptions {
    gpio_bench::ClockKind clock = gpio_bench::ClockKind::Real;
    std::vector<gpio_bench::ScheduledDrive> schedule;
    gpio_bench::BoardFaults faults;
    gpio_bench::BoardTiming timing;
    std::uint64_t runLengthUs = gpio_bench::kRunLengthUs;  // with this timing and clock
    std::string tracePath;  // empty: standard output, as the run prints it
    std::string accessLogPath;
    std::string vcdPath;
    std::string svgPath;
    std::string sessionPath;  // a sigrok session (.sr)
    std::string executablePath;  // the device's .exe to run; empty: the host-built program
    bool pxa255Core = false;     // the core that runs it: a PXA255's rather than a PXA270's
    bool showHelp = false;
};

struct ParsedArguments {
    bool ok = false;
    SimOptions options;
    std::string error;  // why not, when not ok
};

// The arguments after the program name. Looks at no file.
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

std::string UsageText();

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_SIM_OPTIONS_H
