#include "sim_options.h"

#include <filesystem>

namespace gpio_sim {
namespace {

// Two outputs written to one file would leave only the last.
std::string SameFileKey(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    SimOptions& options = parsed.options;
    struct PathOption {
        const char* name;
        std::string* path;
    };
    const PathOption pathOptions[] = {{"--trace", &options.tracePath},
                                      {"--access-log", &options.accessLogPath},
                                      {"--vcd", &options.vcdPath},
                                      {"--svg", &options.svgPath}};

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool hasValue = false;
        const auto equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        if (name == "-h" || name == "--help") {
            options.showHelp = true;
            continue;
        }
        const bool takesValue = name == "--drive" || name == "--clock" || name == "--trace" ||
                                name == "--access-log" || name == "--vcd" || name == "--svg";
        if (!takesValue) {
            parsed.error = name.rfind("-", 0) == 0 ? "unknown option '" + name + "'"
                                                   : "unexpected argument '" + name + "'";
            return parsed;
        }
        if (!hasValue) {
            if (i + 1 == arguments.size()) {
                parsed.error = "option '" + name + "' needs a value";
                return parsed;
            }
            value = arguments[++i];
        }

        if (name == "--drive") {
            ScheduledDrive drive{};
            if (!ParseDrive(value, drive, parsed.error)) return parsed;
            options.schedule.push_back(drive);
        } else if (name == "--clock") {
            if (value == "real") {
                options.clock = ClockKind::Real;
            } else if (value == "simulated") {
                options.clock = ClockKind::Simulated;
            } else {
                parsed.error = "bad clock '" + value + "': expected real or simulated";
                return parsed;
            }
        } else {
            for (const auto& option : pathOptions) {
                if (name != option.name) continue;
                if (value.empty()) {
                    parsed.error = "option '" + name + "' needs a file name";
                    return parsed;
                }
                *option.path = value;
            }
        }
    }

    if (!CheckSchedule(options.schedule, parsed.error)) return parsed;
    for (std::size_t a = 0; a < 4; ++a) {
        for (std::size_t b = a + 1; b < 4; ++b) {
            const std::string& first = *pathOptions[a].path;
            const std::string& second = *pathOptions[b].path;
            if (!first.empty() && !second.empty() && SameFileKey(first) == SameFileKey(second)) {
                parsed.error = std::string(pathOptions[a].name) + " and " + pathOptions[b].name +
                               " both name '" + second + "': give each output its own file";
                return parsed;
            }
        }
    }
    parsed.ok = true;
    return parsed;
}

std::string UsageText() {
    return R"(Usage: pxa-gpio-sim [OPTION]...
Runs the GPIO exercise (GPIO33 and GPIO80: 120 writes of the patterns 0..3 at
500 ms, then 600 reads at 10 ms, 66 s in all) on the simulated PXA27x board,
with the lines driven from outside as scheduled, and records what happened.

Options:
  --drive LINE=LEVEL[@TIME]  Drive LINE from outside from TIME on. Repeatable.
                  LINE   GPIO33 or GPIO80
                  LEVEL  high, low, or none (undriven: reads low, as at
                         power-up); 1 and 0 mean high and low
                  TIME   seconds into the run, 62.5 or 62.5s, or milliseconds,
                         62500ms; from 0 (the default) up to 66 s, exclusive
                Lines start undriven. A line the processor drives while it is
                driven from outside to the other level is reported on standard
                error (on a board that is a short circuit).
  --clock real|simulated
                real (default): the run takes its 66 s, as the program does.
                simulated: the run takes milliseconds; every time recorded in
                the outputs is still the exact time of the run.
  --trace FILE  Write the trace to FILE instead of standard output.
  --access-log FILE
                Write every GPIO register access, one a line:
                  KIND OFFSET VALUE TIME
                KIND is R (read) or W (write); OFFSET is the register's offset
                from 0x40E00000 and VALUE the 32 bits read or written, both as
                0x and 8 lower-case hex digits; TIME is seconds into the run,
                with 6 decimals. Fields are separated by one space, e.g.
                  W 0x00000020 0x00010000 0.500000
                `cut -d' ' -f1-3 FILE` leaves what the bus saw, to compare
                with another bus log.
  --vcd FILE    Write a Value Change Dump (IEEE 1364) of the lines, 1 us a
                tick: GPIO33 and GPIO80 are the pin levels (z while nothing
                drives the line, x while two sources drive it against each
                other), GPIO33_output and GPIO80_output are 1 while the
                processor drives the line. Opens in GTKWave and PulseView.
  --svg FILE    Draw the lines over the whole run as an SVG timing diagram,
                with the write and read phases marked.
  -h, --help    Show this help and exit.

Files are written whole or not at all: each is written beside its final name
and renamed into place when the run is over, and an existing file is replaced
only then.

Exit status:
  0  the lines were exercised
  1  the exercise could not get at the GPIO registers (see the trace)
  2  bad argument, or an output file could not be written; nothing is left
     half-written

Examples:
  pxa-gpio-sim --clock simulated --drive GPIO33=high@62.5 --drive GPIO80=high@64
  pxa-gpio-sim --clock simulated --vcd run.vcd --svg run.svg --access-log bus.log
)";
}

}  // namespace gpio_sim
