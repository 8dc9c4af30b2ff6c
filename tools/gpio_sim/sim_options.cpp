#include "sim_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>

#include "exercise_session.h"
#include "output_format_name.h"

namespace gpio_sim {
namespace {

std::string SameFileKey(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    SimOptions& options = parsed.options;
    std::string& error = parsed.error;

    // Every option that takes a value, in the help's order. Each is given at
    // most once but --drive and --fault; a repeat is refused rather than
    // half-obeyed.
    std::vector<std::string> drives, faults, clocks, bauds, ticks, executables, cores;
    struct ValueOption {
        const char* name;
        std::vector<std::string>* values;
        std::string* path;  // for an output file; null otherwise
        bool repeatable;
        OutputFormat format = OutputFormat::Text;  // what an output file holds
    };
    std::vector<std::string> traces, accessLogs, vcds, svgs, sessions;
    const ValueOption valueOptions[] = {
        {"--drive", &drives, nullptr, true},
        {"--fault", &faults, nullptr, true},
        {"--clock", &clocks, nullptr, false},
        {"--debug-baud", &bauds, nullptr, false},
        {"--sleep-tick", &ticks, nullptr, false},
        {"--exe", &executables, nullptr, false},
        {"--exe-core", &cores, nullptr, false},
        {"--trace", &traces, &options.tracePath, false},
        {"--access-log", &accessLogs, &options.accessLogPath, false},
        {"--vcd", &vcds, &options.vcdPath, false, OutputFormat::Vcd},
        {"--svg", &svgs, &options.svgPath, false, OutputFormat::Svg},
        {"--sr", &sessions, &options.sessionPath, false, OutputFormat::SigrokSession},
    };

    // An option's value given apart never starts with '-': `--trace --vcd`
    // is a forgotten file name, not a file named "--vcd". A name that does
    // start with '-' is written ./-name or --trace=-name.
    for (std::size_t i = 0; i < arguments.size() && arguments[i] != "--"; ++i) {
        for (const auto& option : valueOptions) {
            if (arguments[i] != option.name) continue;
            if (i + 1 == arguments.size()) {
                error = "option '" + arguments[i] + "' needs a value";
                return parsed;
            }
            if (arguments[i + 1].rfind('-', 0) == 0) {
                error = "option '" + arguments[i] + "' needs a value, not '" + arguments[i + 1] +
                        "' (a file name that starts with '-' is written ./" + arguments[i + 1] + " or " +
                        arguments[i] + "=" + arguments[i + 1] + ")";
                return parsed;
            }
            ++i;
            break;
        }
    }

    CLI::App app{"pxa-gpio-sim"};
    app.set_help_flag();  // the help is UsageText(), and asking for it is one more option
    app.allow_extras();   // refused below, in our words
    CLI::Option* help = app.add_flag("-h,--help")->disable_flag_override();
    std::vector<CLI::Option*> added;
    for (const auto& option : valueOptions) {
        // 0 or 1 value each time: a missing value is named below, not by the parser.
        added.push_back(app.add_option(option.name, *option.values)
                            ->expected(0, 1)
                            ->allow_extra_args(false)
                            ->take_all());
    }
    try {
        app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
    } catch (const CLI::ArgumentMismatch&) {
        // Every value count is checked below; what is left is --help=VALUE.
        error = "option '--help' takes no value";
        return parsed;
    } catch (const CLI::ParseError& failure) {
        error = failure.what();
        return parsed;
    }
    for (const std::string& extra : app.remaining()) {
        error = extra.rfind('-', 0) == 0 ? "unknown option '" + extra + "'"
                                         : "unexpected argument '" + extra + "'";
        return parsed;
    }
    // A bad value is named before a repeat of it.
    for (const std::string& clock : clocks) {
        if (clock != "real" && clock != "simulated") {
            error = "bad clock '" + clock + "': expected real or simulated";
            return parsed;
        }
        options.clock = clock == "real" ? gpio_bench::ClockKind::Real : gpio_bench::ClockKind::Simulated;
    }
    if (help->count() > 1) {
        error = "option '--help' given more than once";
        return parsed;
    }
    options.showHelp = help->count() == 1;
    for (std::size_t i = 0; i < added.size(); ++i) {
        const ValueOption& option = valueOptions[i];
        const std::size_t given = added[i]->count();
        if (given > 1 && !option.repeatable) {
            error = "option '" + std::string(option.name) + "' given more than once";
            return parsed;
        }
        if (option.values->size() < given ||
            std::find(option.values->begin(), option.values->end(), "") != option.values->end()) {
            error = "option '" + std::string(option.name) + "' needs " +
                    (option.path != nullptr ? "a file name" : "a value");
            return parsed;
        }
        if (option.path != nullptr && given == 1) *option.path = option.values->front();
    }

    if (!executables.empty()) options.executablePath = executables.front();
    if (!cores.empty()) {
        if (executables.empty()) {
            error = "option '--exe-core' needs --exe";
            return parsed;
        }
        if (cores.front() != "pxa255" && cores.front() != "pxa270") {
            error = "bad core '" + cores.front() + "': expected pxa255 or pxa270";
            return parsed;
        }
        options.pxa255Core = cores.front() == "pxa255";
    }
    for (const std::string& text : faults) {
        if (!gpio_bench::ParseFault(text, options.faults, error)) return parsed;
    }
    if (!bauds.empty() && !gpio_bench::ParseDebugBaud(bauds.front(), options.timing, error)) return parsed;
    if (!ticks.empty() && !gpio_bench::ParseSleepTick(ticks.front(), options.timing, error)) return parsed;
    // A slow clock or a real board's timing makes the run longer: drives may come later.
    options.runLengthUs = gpio_bench::RunLengthUs(options.faults.slowClock, options.timing);
    for (const std::string& text : drives) {
        gpio_bench::ScheduledDrive drive{};
        if (!gpio_bench::ParseDrive(text, drive, error, options.runLengthUs)) return parsed;
        options.schedule.push_back(drive);
    }
    if (!gpio_bench::CheckSchedule(options.schedule, error)) return parsed;
    // Two outputs written to one file would leave only the last.
    for (std::size_t a = 0; a < added.size(); ++a) {
        for (std::size_t b = a + 1; b < added.size(); ++b) {
            const std::string* first = valueOptions[a].path;
            const std::string* second = valueOptions[b].path;
            if (first != nullptr && second != nullptr && !first->empty() && !second->empty() &&
                SameFileKey(*first) == SameFileKey(*second)) {
                error = std::string(valueOptions[a].name) + " and " + valueOptions[b].name + " both name '" +
                        *second + "': give each output its own file";
                return parsed;
            }
        }
    }
    // A name that says another format would mislead whoever opens the file.
    for (const auto& option : valueOptions) {
        if (option.path != nullptr && !option.path->empty() &&
            !CheckOutputName(option.name, *option.path, option.format, error)) {
            return parsed;
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
                         62500ms; from 0 (the default) up to the run's end,
                         exclusive: 66 s, longer with a slow clock or a
                         real board's timing
                Lines start undriven. A line the processor drives while it is
                driven from outside to the other level is reported on standard
                error (on a board that is a short circuit).
  --fault FAULT Give the board a fault in its wiring or its clock, so the
                trace and the VCD show what a faulty board shows. Repeatable,
                one fault each time:
                  stuck-low=LINE, stuck-high=LINE
                         LINE shorted to ground or the supply: the line and
                         what its pin reads stay at that level
                  inverted=LINE
                         an inverting buffer between pin and line, both ways
                  swapped
                         GPIO33's pin drives and reads GPIO80's line, and
                         the other way round
                  shorted
                         the two lines are one: where the pins drive them
                         to different levels low wins (wired-AND), and both
                         pins read the shared level
                  slow-clock=FRACTION
                         each sleep lasts FRACTION longer, above 0 and up to
                         1: slow-clock=0.05 makes 500 ms steps take 525 ms
                LINE is GPIO33 or GPIO80. The registers still hold what the
                program wrote; only the lines and what the pins read change.
  --clock real|simulated
                real (default): the run takes its 66 s, as the program does.
                simulated: the run takes milliseconds; every time recorded in
                the outputs is still the exact time of the run.
  --debug-baud BAUD
                Give the board's debug port a real one's cost: each message
                the program prints takes its length in characters at BAUD
                bits a second, 10 bits a character, and the program waits for
                it, as Windows CE's debug print on a serial port does (at
                115200, 87 us a character: "Writing 0x00" takes 1.1 ms). From
                50 to 4000000. Default: printing takes no time.
  --sleep-tick TIME
                Give the board a system tick: each sleep ends on the first
                tick at or after its time is up, as Sleep(n) on Windows CE
                waits at least n ms and ends on a timer tick (1ms on most
                boards). TIME has its unit: 1ms, 500us, 0.01s; from 1us up
                to 1s. Default: a sleep ends when its time is up.
                With --debug-baud 115200 --sleep-tick 1ms, each write step
                takes 502 ms and each read sample 12 ms, as on a real board.
                Both apply under either clock.
  --exe FILE    Run FILE, the device's TolvarGPIOTest.exe (Windows CE on ARM),
                instead of the program built for the host: a CE process on an
                emulated PXA270 core, its calls served by this board, with the
                same drives, faults, timing and outputs. Every call is checked
                as CE's kernel takes it; what the process reports (a refused
                file or call, an access violation) goes to standard error.
  --exe-core pxa255|pxa270
                The emulated core that runs --exe's file: pxa270 (default),
                or pxa255, the older core without its PXA27x additions.
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
                with the write and read phases marked and the board's faults
                named.
  --sr FILE     Write the lines as a sigrok session, PulseView's own format
                (through libsigrok), 1 MHz, with the same four channels as
                the VCD (z and x are 0). Opens with pulseview -i FILE.
  -h, --help    Show this help and exit.

A file name whose ending says another format than the option writes
(--svg out.png, --vcd run.sr) is refused.

Each option but --drive and --fault is given at most once. A value given
apart from its option never starts with '-': a file so named is written
./-name or --trace=-name.

Files are written whole or not at all, and all of them or none: each is
written beside its final name, with room for it reserved before the run, and
all are renamed into place when the run is over; an existing file is replaced
only then. A terminal, pipe or device (or /dev/stdout) is written directly;
one that takes nothing (a full device, a pipe nobody reads) fails the run.

Exit status:
  0  the lines were exercised
  1  the exercise could not get at the GPIO registers (see the trace)
  5-9 with --exe: the process refused the file (5), the program ended
     holding memory (6), called with its stack misaligned (7), touched what
     it was not given (8) or made an access the GPIO unit rejects (9)
  2  bad argument, or an output (a file, a device or pipe, standard output)
     could not be written; no file is left half-written

Examples:
  pxa-gpio-sim --clock simulated --drive GPIO33=high@62.5 --drive GPIO80=high@64
  pxa-gpio-sim --clock simulated --vcd run.vcd --svg run.svg --access-log bus.log
  pxa-gpio-sim --clock simulated --debug-baud 115200 --sleep-tick 1ms --sr run.sr
  pxa-gpio-sim --clock simulated --fault stuck-low=GPIO80 --vcd stuck.vcd --trace stuck.txt
  pxa-gpio-sim --clock simulated --debug-baud 115200 --sleep-tick 1ms --vcd board.vcd
  pxa-gpio-sim --clock simulated --exe build/wince-arm/app/TolvarGPIOTest.exe --vcd exe.vcd
)";
}

}  // namespace gpio_sim
