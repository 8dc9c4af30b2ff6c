#include "check_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace gpio_check {
namespace {

// A value that looks like an option is a forgotten value, not a file
// someone named "-x": refuse it rather than read or overwrite it.
std::string NotAnOption(const std::string& value) {
    if (value.empty()) return "an empty value";
    if (value[0] == '-') return "'" + value + "' looks like an option, not a value";
    return "";
}

// GPIO33=D3: which channel of the capture carries the line.
bool ApplyChannel(const std::string& text, ChannelMap& channels, bool mapped[2], std::string& error) {
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        error = "--channel '" + text + "': expected LINE=CHANNEL, e.g. GPIO33=D3";
        return false;
    }
    const std::string line = text.substr(0, equals);
    const std::string channel = text.substr(equals + 1);
    const int index = line == "GPIO33" ? 0 : line == "GPIO80" ? 1 : -1;
    if (index < 0) {
        error = "--channel '" + text + "': the line is GPIO33 or GPIO80, not '" + line + "'";
        return false;
    }
    if (channel.empty() || std::any_of(channel.begin(), channel.end(),
                                       [](char c) { return c == '=' || c == ' ' || c == '\t'; })) {
        error = "--channel '" + text + "': '" + channel + "' is no channel name";
        return false;
    }
    if (mapped[index]) {
        error = "--channel: " + line + " is mapped twice";
        return false;
    }
    mapped[index] = true;
    (index == 0 ? channels.gpio33 : channels.gpio80) = channel;
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
    app.add_option("--channel", channelTexts)->check(notAnOption)->take_all()->expected(1);
    for (const char* single : {"--trace", "--capture", "--svg"}) {
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
    bool mapped[2] = {false, false};
    for (const std::string& text : channelTexts) {
        if (!ApplyChannel(text, options.channels, mapped, parsed.error)) return parsed;
    }
    if (options.channels.gpio33 == options.channels.gpio80) {
        parsed.error = "--channel: GPIO33 and GPIO80 are both on channel " + options.channels.gpio33;
        return parsed;
    }
    if (options.tracePath.empty() && options.capturePath.empty()) {
        parsed.error = "nothing to check: give --trace FILE, --capture FILE or both";
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
    }
    parsed.ok = true;
    return parsed;
}

std::string CheckUsageText() {
    return R"(NAME
    pxa-gpio-check - check a board's GPIO33 and GPIO80 from the exercise's trace
    and a logic-analyser capture

SYNOPSIS
    pxa-gpio-check [--trace FILE] [--capture FILE] [--channel LINE=CHANNEL]...
                   [--svg FILE]

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
    --trace FILE
        The run's debug output as saved from the board's debug serial port or
        a debugger's output window: UTF-8 or UTF-16 (either byte order, with
        or without a byte-order mark), with \r\n, \r or \n line ends, or each
        message on its own line.

    --capture FILE
        A capture of the two lines as sigrok and PulseView save it: a .sr
        session or a VCD, at any sample rate.

    --channel LINE=CHANNEL
        The capture's channel that carries LINE (GPIO33 or GPIO80), e.g.
        --channel GPIO33=D3. Once per line. Without it the channels are found
        by the names GPIO33 and GPIO80.

    --svg FILE
        Also draw the expected and the captured waveforms one above the other,
        faults marked. Needs --capture. The file appears whole or not at all.

    -h, --help
        This text.

    Each option is given at most once (--channel once per line); a value may
    not start with '-'.

EXIT STATUS
    0   a whole run was seen, and every check ran and passed
    1   a fault of the board was found
    2   bad use, or an input that cannot be read
    3   no fault found, but not a whole run: an input is cut off, or holds
        no run of the program; the verdict line says what is missing

EXAMPLES
    pxa-gpio-check --trace debug.txt
    pxa-gpio-check --trace debug.txt --capture run.sr --svg check.svg
    pxa-gpio-check --capture run.vcd --channel GPIO33=D3 --channel GPIO80=D5
)";
}

}  // namespace gpio_check
