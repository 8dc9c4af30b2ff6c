#include "check_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "serial_port.h"

namespace gpio_check {
namespace {

// A value that looks like an option is a forgotten value, not a file
// someone named "-x": refuse it rather than read or overwrite it.
std::string NotAnOption(const std::string& value) {
    if (value.empty()) return "an empty value";
    if (value[0] == '-') return "'" + value + "' looks like an option, not a value";
    return "";
}

// GPIO33=D3 or GPIO33@3: which channel of the capture carries the line, by
// its name (any text, as analysers let people name channels) or by its
// index among the logic channels. The line's name ends at the first = or @.
bool ApplyChannel(const std::string& text, ChannelMap& channels, bool mapped[2], std::string& error) {
    const auto separator = text.find_first_of("=@");
    if (separator == std::string::npos) {
        error = "--channel '" + text + "': expected LINE=CHANNEL or LINE@INDEX, e.g. GPIO33=D3 or GPIO33@3";
        return false;
    }
    std::string line = text.substr(0, separator);
    const std::string channel = text.substr(separator + 1);
    // gpio33 as pxa-gpio-sim takes it.
    for (char& c : line) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const int index = line == "GPIO33" ? 0 : line == "GPIO80" ? 1 : -1;
    if (index < 0) {
        error = "--channel '" + text + "': the line is GPIO33 or GPIO80, not '" + line + "'";
        return false;
    }
    int channelIndex = -1;
    if (text[separator] == '@') {
        if (channel.empty() || channel.size() > 5 ||
            channel.find_first_not_of("0123456789") != std::string::npos) {
            error = "--channel '" + text + "': '" + channel + "' is no channel index (0, 1, 2, ...)";
            return false;
        }
        channelIndex = std::stoi(channel);
    } else if (channel.empty()) {
        error = "--channel '" + text + "': no channel name after '='";
        return false;
    }
    if (mapped[index]) {
        error = "--channel: " + line + " is mapped twice";
        return false;
    }
    mapped[index] = true;
    (index == 0 ? channels.gpio33 : channels.gpio80) = channelIndex >= 0 ? "" : channel;
    (index == 0 ? channels.gpio33Index : channels.gpio80Index) = channelIndex;
    return true;
}

// 115200: a speed in Bd, digits only.
bool ParseBaud(const std::string& text, unsigned& baud, std::string& error) {
    if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789") != std::string::npos ||
        !IsSupportedBaud(static_cast<unsigned>(std::stoul(text)))) {
        error = "--baud '" + text + "': not a serial port's speed (e.g. 9600, 38400, 115200, 921600)";
        return false;
    }
    baud = static_cast<unsigned>(std::stoul(text));
    return true;
}

// 5, 5s, 0.5s or 500ms: decimal digits and a unit, from 1 ms to an hour.
// No exponent or hexadecimal: 1e-9 or 0x10 is a slip, not a time.
bool ParseQuietTime(const std::string& text, double& seconds, std::string& error) {
    const std::string::size_type unitAt = text.find_first_not_of("0123456789.");
    const std::string number = text.substr(0, unitAt);
    const std::string unit = unitAt == std::string::npos ? "" : text.substr(unitAt);
    const bool wellFormed = !number.empty() && number.size() <= 16 &&
                            std::isdigit(static_cast<unsigned char>(number.front())) &&
                            std::isdigit(static_cast<unsigned char>(number.back())) &&
                            std::count(number.begin(), number.end(), '.') <= 1 &&
                            (unit.empty() || unit == "s" || unit == "ms");
    const double milliseconds = wellFormed ? std::strtod(number.c_str(), nullptr) * (unit == "ms" ? 1 : 1000) : 0;
    // A hair's room for 0.001s, which is not 1 ms exactly in binary.
    if (!wellFormed || !(milliseconds >= 1 - 1e-9) || milliseconds > 3600e3 * (1 + 1e-12)) {
        error = "--quiet-after '" + text + "': expected a time from 1ms to 3600s, e.g. 5s or 500ms";
        return false;
    }
    seconds = milliseconds / 1000;
    return true;
}

}  // namespace

ParsedCheckArguments ParseCheckArguments(const std::vector<std::string>& arguments) {
    ParsedCheckArguments parsed;
    CheckOptions& options = parsed.options;
    CLI::App app{"pxa-gpio-check"};
    app.set_help_flag();  // the manual page below instead of CLI11's own
    app.add_flag("-h,--help", options.showHelp);
    std::vector<std::string> channelTexts;
    const auto notAnOption = CLI::Validator(NotAnOption, "VALUE");
    app.add_option("--trace", options.tracePath)->check(notAnOption);
    app.add_option("--capture", options.capturePath)->check(notAnOption);
    app.add_option("--svg", options.svgPath)->check(notAnOption);
    app.add_option("--save-trace", options.saveTracePath)->check(notAnOption);
    std::string baudText, quietText;
    app.add_option("--json", options.jsonPath)->check(CLI::Validator(
        [](const std::string& value) { return value == "-" ? std::string() : NotAnOption(value); }, "FILE"));
    app.add_option("--baud", baudText)->check(notAnOption);
    app.add_option("--quiet-after", quietText)->check(notAnOption);
    app.add_option("--channel", channelTexts)->check(notAnOption)->take_all()->expected(1);
    for (const char* single : {"--trace", "--capture", "--svg", "--json", "--save-trace", "--baud", "--quiet-after"}) {
        const std::string option = single;
        const auto given = std::count_if(arguments.begin(), arguments.end(), [&](const std::string& a) {
            return a == option || a.compare(0, option.size() + 1, option + "=") == 0;
        });
        if (given > 1) {
            parsed.error = option + " is given more than once";
            return parsed;
        }
    }
    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        parsed.error = e.what();
        return parsed;
    }
    if (options.showHelp) {
        parsed.ok = true;
        return parsed;
    }
    if (!baudText.empty() && !ParseBaud(baudText, options.baud, parsed.error)) return parsed;
    if (!quietText.empty() && !ParseQuietTime(quietText, options.quietSeconds, parsed.error)) return parsed;
    if ((options.baud != 0 || options.quietSeconds != 0) && options.tracePath.empty()) {
        parsed.error = std::string(options.baud != 0 ? "--baud" : "--quiet-after") +
                       " is for a trace read from a serial port: give --trace PORT";
        return parsed;
    }
    bool mapped[2] = {false, false};
    for (const std::string& text : channelTexts) {
        if (!ApplyChannel(text, options.channels, mapped, parsed.error)) return parsed;
    }
    const ChannelMap& map = options.channels;
    if (map.gpio33Index < 0 && map.gpio80Index < 0 && map.gpio33 == map.gpio80) {
        parsed.error = "--channel: GPIO33 and GPIO80 are both on channel " + map.gpio33;
        return parsed;
    }
    if (map.gpio33Index >= 0 && map.gpio33Index == map.gpio80Index) {
        parsed.error = "--channel: GPIO33 and GPIO80 are both on channel @" + std::to_string(map.gpio33Index);
        return parsed;
    }
    if (options.tracePath.empty() && options.capturePath.empty()) {
        parsed.error = "nothing to check: give --trace FILE, --capture FILE or both";
        return parsed;
    }
    if (!options.saveTracePath.empty() && options.tracePath.empty()) {
        parsed.error = "--save-trace keeps a trace read from a port or a pipe: give --trace PORT";
        return parsed;
    }
    if (!channelTexts.empty() && options.capturePath.empty()) {
        parsed.error = "--channel maps channels of a capture: give --capture FILE";
        return parsed;
    }
    if (!options.svgPath.empty() && options.capturePath.empty()) {
        parsed.error = "--svg draws the captured lines: give --capture FILE";
        return parsed;
    }
    const std::string* paths[] = {&options.tracePath, &options.capturePath};
    for (const std::string* path : paths) {
        if (!path->empty() && *path == options.svgPath) {
            parsed.error = "--svg " + options.svgPath + " would overwrite an input";
            return parsed;
        }
        if (!path->empty() && *path == options.jsonPath) {
            parsed.error = "--json " + options.jsonPath + " would overwrite an input";
            return parsed;
        }
        if (!path->empty() && *path == options.saveTracePath) {
            parsed.error = "--save-trace " + options.saveTracePath + " would overwrite an input";
            return parsed;
        }
    }
    if (!options.jsonPath.empty() && options.jsonPath == options.svgPath) {
        parsed.error = "--json and --svg are both " + options.svgPath;
        return parsed;
    }
    if (!options.saveTracePath.empty() &&
        (options.saveTracePath == options.svgPath || options.saveTracePath == options.jsonPath)) {
        parsed.error = "--save-trace " + options.saveTracePath + " is another output too";
        return parsed;
    }
    parsed.ok = true;
    return parsed;
}

std::string CheckUsageText() {
    return R"(NAME
    pxa-gpio-check - check a board's GPIO33 and GPIO80 from the exercise's trace
    and a logic-analyser capture

SYNOPSIS
    pxa-gpio-check [--trace FILE|PORT [--baud N] [--quiet-after TIME]
                   [--save-trace FILE]]
                   [--capture FILE] [--channel LINE=CHANNEL]...
                   [--channel LINE@INDEX]...
                   [--svg FILE] [--json FILE|-]

DESCRIPTION
    Takes what a run of TolvarGPIOTest on a real board produced and says, line
    by line, what works and what does not. The expectation is the same routine
    run on the simulated board, so the checker follows the program.

    From the trace: that it is a whole run in order; that each register update
    did what it asked (a GPDR bit that does not set: the line could not be made
    an output; a GAFR field that does not clear: the pin is still in its
    alternate function; a value that changes between reports: something else
    drives the register); the levels each line read in the read phase.

    From the capture: the 120 steps of the write phase, each line's level in
    each step against the patterns (stuck low or high, the lines swapped, a
    line inverted, the lines shorted together, steps missing, glitches), the
    step period against 500 ms +/- 2 %, and the levels in the read phase.

    From both: the trace's samples against the captured level at the time of
    each, the two aligned on the end of the write phase. A sample that reads
    other than its pin shows a broken input path.

    A trace or capture that starts or ends mid-run is reported as cut off, not
    as a fault of the board, and so is a capture in which no run is found.

OPTIONS
    --trace PORT
        The board's debug serial port (/dev/ttyUSB0, or any terminal device),
        read as the run goes: raw, 8N1, no flow control, at --baud; its
        previous settings are put back at the end, also on a signal. The
        checker stops by itself at the run's closing message, when the port
        hangs up, or once the run has begun and nothing has come for
        --quiet-after; then it says how far the run got (exit 3). Start it,
        then the program on the board. The bytes read are kept as they come
        in pxa-gpio-check-trace-YYYYMMDD-HHMMSS.txt in the current directory
        (or --save-trace FILE), so that no later failure loses the run; the
        report's heading says where. Every input and output is checked
        before the port is opened. The checker's own terminal (/dev/tty,
        or standard input when it is a terminal) is refused, not made raw.
        A port left raw by a checker killed with SIGKILL is put right with
        'stty -F PORT sane'.

    --baud N
        The port's speed in Bd; 115200, the debug port's usual, if not given.

    --quiet-after TIME
        How long the port may be silent once the run has begun: 5s if not
        given, ten times a healthy run's longest silence on a board (a write
        step, 0.5 s). From 1ms to 3600s, as 5, 5s, 0.5s or 500ms.

    --save-trace FILE
        Where a trace read from a port or a pipe is kept as it comes
        (replaced if it exists). A port's is kept under the name above
        without it; a pipe's only with it.

    --trace FILE
        The run's debug output as saved from the board's debug serial port or
        a debugger's output window: UTF-8 or UTF-16 (either byte order, with
        or without a byte-order mark), with \r\n, \r or \n line ends, or each
        message on its own line. A pipe is read to its end.

    While a trace comes from a port or a pipe and standard error is a
    terminal, a progress line there shows the phase, the step or sample
    reached, the time since the run began and the first fault as soon as it
    is known; nothing of it goes anywhere else.

    --capture FILE
        A capture of the two lines as sigrok and PulseView save it: a .sr
        session or a VCD, at any sample rate. A named pipe or /dev/stdin will
        do (a session from a pipe is copied to a temporary file, at most
        1 GB). Of a line that changes more than 100000 times (a clock or
        noise, not this exercise) only the first 100000 changes are kept.

    --channel LINE=CHANNEL
        The capture's channel that carries LINE (GPIO33 or GPIO80), by its
        name as the file has it, spaces and all: --channel GPIO33=D3,
        --channel 'GPIO80=Recv PAN1321/FTDI TX'. Once per line. Without it
        the channels are found by the names GPIO33 and GPIO80.

    --channel LINE@INDEX
        The same by the channel's index among the capture's logic channels,
        counted from 0 as sigrok numbers them (D3 is 3; in a VCD the 1-bit
        signals in the order declared): --channel GPIO33@3. For channels
        without a name of their own, or with one that several share.

    --svg FILE
        Also draw the expected and the captured waveforms one above the other,
        faults marked. Needs --capture. The file appears whole or not at all.

    --json FILE
        Also write the verdict as JSON for a program to read: the tool's
        version, the inputs, each check and line with its status, the
        verdict and the exit code. "--json -" writes it to standard output
        instead of the text report. The file appears whole or not at all.

    -h, --help
        This text.

    Each option is given at most once (--channel once per line); a value may
    not start with '-'.

EXIT STATUS
    0   a whole run was seen in a capture (and the trace, if given), and
        every check ran and passed
    1   a fault of the board was found
    2   bad use, or an input that cannot be read
    3   no fault found, but not a whole run or not all seen: an input is cut
        off (a port gone quiet or hung up), or holds no run of the program;
        or a trace came without a capture, so the pins' levels were not
        seen; or too few samples could be held against a pin. The verdict
        line says what is missing

EXAMPLES
    pxa-gpio-check --trace /dev/ttyUSB0 --capture run.sr --json board-17.json
    pxa-gpio-check --trace debug.txt
    pxa-gpio-check --trace debug.txt --capture run.sr --svg check.svg
    pxa-gpio-check --capture run.vcd --channel GPIO33=D3 --channel GPIO80=D5
)";
}

}  // namespace gpio_check
