// pxa-gpio-sim: the GPIO exercise on the simulated board, with its lines
// driven from outside and its trace, bus and waveform recorded.

#include <cstdio>
#include <string>
#include <vector>

#include "access_log_writer.h"
#include "exercise_session.h"
#include "output_file.h"
#include "sim_options.h"
#include "svg_timing_diagram.h"
#include "vcd_writer.h"

namespace {

constexpr int kBadUse = 2;

int Fail(const std::string& message) {
    std::fprintf(stderr, "pxa-gpio-sim: %s\n", message.c_str());
    return kBadUse;
}

std::string DescribeRun(const gpio_sim::SimOptions& options) {
    std::string text;
    for (const auto& drive : options.schedule) {
        text += (text.empty() ? "" : ", ") + gpio_sim::DescribeDrive(drive);
    }
    if (text.empty()) text = "lines not driven from outside";
    const std::string faults = gpio_sim::DescribeFaults(options.faults);
    if (!faults.empty()) text += "; board fault: " + faults;
    return text + (options.clock == gpio_sim::ClockKind::Simulated ? "; simulated clock" : "; real clock");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace gpio_sim;
    const ParsedArguments parsed = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        Fail(parsed.error);
        std::fprintf(stderr, "Try 'pxa-gpio-sim --help'.\n");
        return kBadUse;
    }
    const SimOptions& options = parsed.options;
    if (options.showHelp) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    // Every output is opened before the run, so a file that cannot be
    // written shows now rather than after 66 s.
    struct Output {
        const std::string& path;
        OutputFile file;
    };
    Output trace{options.tracePath, {}};
    Output accessLog{options.accessLogPath, {}};
    Output vcd{options.vcdPath, {}};
    Output svg{options.svgPath, {}};
    Output* outputs[] = {&trace, &accessLog, &vcd, &svg};
    RemoveTemporariesOnSignals();
    std::string error;
    for (Output* output : outputs) {
        if (!output->path.empty() && !output->file.Open(output->path, error)) return Fail(error);
    }

    const SessionResult result =
        RunExerciseSession(options.clock, options.schedule, !options.tracePath.empty(), options.faults);

    const std::string description = DescribeRun(options);
    const struct {
        Output& output;
        std::string content;
    } contents[] = {
        {trace, result.trace},
        {accessLog, accessLog.path.empty() ? "" : RenderAccessLog(result.accesses)},
        {vcd, vcd.path.empty() ? "" : RenderVcd(result.recording, description)},
        {svg, svg.path.empty() ? "" : RenderTimingDiagram(result.recording, description)},
    };
    for (const auto& item : contents) {
        if (item.output.file.IsOpen() && !item.output.file.Commit(item.content, error)) return Fail(error);
    }

    for (const auto& contention : FindContention(result.recording)) {
        std::fprintf(stderr,
                     "pxa-gpio-sim: warning: %s was driven from outside against the processor's "
                     "output %u time(s), first at %s s; on a board that is a short circuit\n",
                     contention.line, contention.times, FormatSeconds(contention.firstUs).c_str());
    }
    return result.exitCode;
}
