// pxa-gpio-sim: the GPIO exercise on the simulated board, with its lines
// driven from outside and its trace, bus and waveform recorded.

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "access_log_writer.h"
#include "device_executable.h"
#include "exercise_session.h"
#include "output_file.h"
#include "sigrok_session_writer.h"
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
        text += (text.empty() ? "" : ", ") + gpio_bench::DescribeDrive(drive);
    }
    if (text.empty()) text = "lines not driven from outside";
    const std::string faults = gpio_bench::DescribeFaults(options.faults);
    if (!faults.empty()) text += "; board fault: " + faults;
    const std::string timing = gpio_bench::DescribeTiming(options.timing);
    if (!timing.empty()) text += "; " + timing;
    return text + (options.clock == gpio_bench::ClockKind::Simulated ? "; simulated clock" : "; real clock");
}

}  // namespace

// Room reserved for each output before the run: a little above what a run
// writes, so a full disk shows at once. A bigger output is still written.
constexpr std::size_t kTraceBytes = 16 * 1024;
constexpr std::size_t kAccessLogBytes = 64 * 1024;
std::size_t VcdBytes(std::size_t drives) { return 4 * 1024 + 64 * drives; }
std::size_t SvgBytes(std::size_t drives) { return 16 * 1024 + 128 * drives; }
// A whole run at 1 MHz compresses to about 70 KB.
std::size_t SessionBytes(std::size_t drives) { return 128 * 1024 + 64 * drives; }

int main(int argc, char** argv) {
    using namespace gpio_sim;
    const unsigned closedDescriptors = gpio_bench::ReserveStandardDescriptors();
    const bool standardOutputClosed = (closedDescriptors & (1u << 1)) != 0;
    const ParsedArguments parsed = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        Fail(parsed.error);
        std::fprintf(stderr, "Try 'pxa-gpio-sim --help'.\n");
        return kBadUse;
    }
    const SimOptions& options = parsed.options;
    const bool traceToStandardOutput = options.tracePath.empty();
    if (standardOutputClosed && (options.showHelp || traceToStandardOutput)) {
        return Fail(std::string("standard output is closed: nowhere to print the ") +
                    (options.showHelp ? "help" : "trace (give --trace FILE)"));
    }
    std::string error;
    if (options.showHelp) {
        std::fputs(UsageText().c_str(), stdout);
        if (!gpio_bench::FlushStandardOutput(error) || std::fclose(stdout) != 0) return Fail(error);
        return 0;
    }

    if (!options.sessionPath.empty() && !CanWriteSigrokSessions(error)) return Fail("--sr: " + error);
    // Read once, before any output is opened: a file that cannot be read shows now.
    std::vector<std::uint8_t> executable;
    if (!options.executablePath.empty()) {
        if (!gpio_bench::CanRunDeviceExecutables(error)) return Fail("--exe: " + error);
        if (!gpio_bench::ReadDeviceExecutable(options.executablePath, executable, error)) return Fail(error);
    }

    // Every output is opened before the run, so a file that cannot be
    // written shows now rather than after 66 s.
    struct Output {
        const std::string& path;
        std::size_t expectedSize;
        gpio_bench::OutputFile file;
    };
    const std::size_t drives = options.schedule.size();
    Output trace{options.tracePath, kTraceBytes, {}};
    Output accessLog{options.accessLogPath, kAccessLogBytes, {}};
    Output vcd{options.vcdPath, VcdBytes(drives), {}};
    Output svg{options.svgPath, SvgBytes(drives), {}};
    Output session{options.sessionPath, SessionBytes(drives), {}};
    Output* outputs[] = {&trace, &accessLog, &vcd, &svg, &session};
    gpio_bench::RemoveTemporariesOnSignals();
    bool standardOutputTaken = traceToStandardOutput;
    for (Output* output : outputs) {
        if (output->path.empty()) continue;
        if (!output->file.Open(output->path, output->expectedSize, error)) return Fail(error);
        if (!output->file.IsStandardOutput()) continue;
        if (standardOutputTaken) {
            return Fail("'" + output->path + "' is standard output, where " +
                        (traceToStandardOutput ? "the trace goes: give --trace FILE"
                                               : "another output goes: give each its own file"));
        }
        standardOutputTaken = true;
    }

    if (options.clock == gpio_bench::ClockKind::Real) {
        std::fprintf(stderr, "pxa-gpio-sim: real clock: the run takes %s s (--clock simulated takes "
                             "milliseconds)\n", gpio_bench::FormatShortSeconds(options.runLengthUs).c_str());
    }
    const gpio_bench::SessionResult result =
        gpio_bench::RunExerciseSession(options.clock, options.schedule, !traceToStandardOutput, options.faults, options.timing,
                           options.executablePath.empty() ? nullptr : &executable, options.pxa255Core);
    std::string reportLines = result.processReport;
    for (std::size_t at = 0, end = 0; at < reportLines.size(); at = end + 1) {
        end = reportLines.find('\n', at);
        if (end == std::string::npos) end = reportLines.size();
        std::fprintf(stderr, "pxa-gpio-sim: %s: %s\n", options.executablePath.c_str(),
                     reportLines.substr(at, end - at).c_str());
    }
    // A trace that did not reach standard output fails the run as a lost file would.
    if (traceToStandardOutput && !gpio_bench::FlushStandardOutput(error)) return Fail(error);

    const std::string description = DescribeRun(options);
    // In time order, so a subtitle that names only the first few names the earliest.
    std::vector<gpio_bench::ScheduledDrive> byTime = options.schedule;
    std::stable_sort(byTime.begin(), byTime.end(),
                     [](const gpio_bench::ScheduledDrive& a, const gpio_bench::ScheduledDrive& b) { return a.atUs < b.atUs; });
    std::vector<std::string> driveNames;
    for (const auto& drive : byTime) driveNames.push_back(gpio_bench::DescribeDrive(drive));
    std::string clockName = options.clock == gpio_bench::ClockKind::Simulated ? "simulated clock" : "real clock";
    const std::string timing = gpio_bench::DescribeTiming(options.timing);
    if (!timing.empty()) clockName += ", " + timing;
    std::string sessionContent;
    if (session.file.IsOpen() && !RenderSigrokSession(result.recording, sessionContent, error)) return Fail(error);
    std::vector<gpio_bench::PendingOutput> pending;
    const auto add = [&pending](Output& output, auto render) {
        if (output.file.IsOpen()) pending.push_back({&output.file, render()});
    };
    add(trace, [&] { return result.trace; });
    add(accessLog, [&] { return RenderAccessLog(result.accesses); });
    add(vcd, [&] { return RenderVcd(result.recording, description); });
    add(svg, [&] { return gpio_bench::RenderTimingDiagram(result.recording, driveNames, clockName, gpio_bench::ListFaults(options.faults)); });
    add(session, [&] { return std::move(sessionContent); });
    if (!gpio_bench::CommitAll(pending, error)) return Fail(error);

    for (const auto& contention : gpio_bench::FindContention(result.recording)) {
        std::fprintf(stderr,
                     "pxa-gpio-sim: warning: %s was driven from outside against the processor's "
                     "output %u time(s), first at %s s; on a board that is a short circuit\n",
                     contention.line, contention.times, gpio_bench::FormatSeconds(contention.firstUs).c_str());
    }
    if (options.clock == gpio_bench::ClockKind::Real && result.recording.EndUs() >= options.runLengthUs) {
        // Sleeps are relative, so each step's own work adds up; drives are
        // placed on the board's absolute time.
        std::fprintf(stderr, "pxa-gpio-sim: real clock: the run took %s s, %s s more than %s\n",
                     gpio_bench::FormatSeconds(result.recording.EndUs()).c_str(),
                     gpio_bench::FormatSeconds(result.recording.EndUs() - options.runLengthUs).c_str(),
                     options.runLengthUs == gpio_bench::kRunLengthUs ? "its sleeps" : "under the simulated clock");
    }
    if (std::fclose(stdout) != 0) return Fail("cannot write standard output");
    return result.exitCode;
}
