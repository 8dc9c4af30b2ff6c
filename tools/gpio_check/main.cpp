// pxa-gpio-check: a real board's run of the exercise, as its trace and a
// logic-analyser capture show it, held against the same routine on the
// simulated board, with a diagnosis line by line.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <ios>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "capture_analysis.h"
#include "capture_reader.h"
#include "check_diagram.h"
#include "check_json.h"
#include "check_options.h"
#include "check_report.h"
#include "cross_check.h"
#include "expected_run.h"
#include "live_trace.h"
#include "output_file.h"
#include "progress_line.h"
#include "run_paths.h"
#include "serial_port.h"
#include "shown_text.h"
#include "trace_check.h"
#include "trace_messages.h"
#include "trace_reader.h"
#include "trace_text.h"

namespace {

constexpr int kBadUse = gpio_check::kExitBadUse;

// Messages carry file names and text from the files: shown escaped, so
// neither can drive the terminal.
int Fail(const std::string& message) {
    std::fprintf(stderr, "pxa-gpio-check: %s\n",
                 gpio_bench::ShownText(message, gpio_bench::kShownMessageBytes).c_str());
    return kBadUse;
}

std::string RateText(std::uint64_t hz) {
    if (hz % 1000000 == 0) return std::to_string(hz / 1000000) + " MHz";
    if (hz % 1000 == 0) return std::to_string(hz / 1000) + " kHz";
    return std::to_string(hz) + " Hz";
}

std::string SecondsText(std::uint64_t ps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ps) / 1e12);
    return text;
}

// What an input is, by what its path names now.
std::string InputKind(const std::string& path, std::uint64_t* size = nullptr) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return "file";
    if (S_ISREG(status.st_mode)) {
        if (size != nullptr) *size = static_cast<std::uint64_t>(status.st_size);
        return "file";
    }
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return "pipe";
    if (S_ISCHR(status.st_mode)) return "device";  // a serial port once it opens as one
    return "file";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace gpio_check;
    // A closed standard output or error gets /dev/null, so the picture's
    // temporary file can never take its descriptor and the report land in it.
    const unsigned closedDescriptors = gpio_bench::ReserveStandardDescriptors();
    const bool standardOutputClosed = (closedDescriptors & (1u << 1)) != 0;
    const ParsedCheckArguments parsed = ParseCheckArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        Fail(parsed.error);
        std::fprintf(stderr, "Try 'pxa-gpio-check --help'.\n");
        return kBadUse;
    }
    const CheckOptions& options = parsed.options;
    std::string error;
    if (standardOutputClosed) {
        return Fail(std::string("standard output is closed: nowhere to print the ") +
                    (options.showHelp ? "help" : "report"));
    }
    if (options.showHelp) {
        std::fputs(CheckUsageText().c_str(), stdout);
        if (!gpio_bench::FlushStandardOutput(error) || std::fclose(stdout) != 0) return Fail(error);
        return 0;
    }

    // Every input and output is looked at before a port is opened: a run
    // read from the board cannot be read again.
    gpio_bench::RemoveTemporariesOnSignals();
    std::string traceKind = options.tracePath.empty() ? "" : InputKind(options.tracePath);
    if (!options.saveTracePath.empty() && traceKind == "file") {
        return Fail("--save-trace keeps a trace read from a port or a pipe; " + options.tracePath +
                    " is a file already");
    }
    // A device may turn out a port: its trace is kept under the default name unless told where.
    const bool keepByDefault = options.saveTracePath.empty() && traceKind == "device";
    const std::string keptPath =
        keepByDefault ? DefaultSavedTraceName(static_cast<long long>(std::time(nullptr)), 1) : options.saveTracePath;
    if (!CheckRunPaths(options, keptPath, error, keepByDefault)) return Fail(error);

    // The port set up next: a path that is no port given --baud stops
    // before any output file is made.
    const unsigned baud = options.baud != 0 ? options.baud : kDefaultBaud;
    const bool portOptions = options.baud != 0 || options.quietSeconds != 0;
    SerialPort port;
    // A device is opened once, as a port: opening and closing a serial
    // port only to look at it would toggle its modem lines.
    bool noTerminal = traceKind != "device";
    if (traceKind == "device" && port.Open(options.tracePath, baud, error, &noTerminal)) traceKind = "serial port";
    const bool fromPort = traceKind == "serial port";
    if (!fromPort && noTerminal && portOptions) {
        return Fail(std::string(options.baud != 0 ? "--baud" : "--quiet-after") + ": '" + options.tracePath +
                    "' is no terminal (a file or a pipe is read as it is, without --baud or --quiet-after)");
    }
    if (!fromPort && !noTerminal) return Fail(error);

    const bool jsonToStandardOutput = options.jsonPath == "-";
    const std::string jsonPath = jsonToStandardOutput ? "" : options.jsonPath;
    // The output files are made now, so an unwritable one shows before the work.
    gpio_bench::OutputFile svg, json;
    if (!options.svgPath.empty() && !svg.Open(options.svgPath, error)) return Fail(error);
    if (svg.IsStandardOutput()) {
        return Fail("--svg " + options.svgPath + " is standard output, where the report goes");
    }
    if (!jsonPath.empty() && !json.Open(jsonPath, error)) return Fail(error);
    if (json.IsStandardOutput()) {
        return Fail("--json " + jsonPath + " is standard output, where the report goes (--json - writes the "
                    "verdict there instead of the report)");
    }
    // A trace read as it comes is kept as it comes, so that nothing later
    // (a capture that will not read, a signal) can lose the board's run.
    std::string kept;
    int keepFd = -1;
    if (fromPort || (traceKind == "pipe" && !options.saveTracePath.empty())) {
        keepFd = MakeSavedTrace(keptPath, keepByDefault, kept, error);
        if (keepFd < 0) return Fail(error);
        std::fprintf(stderr, "pxa-gpio-check: keeping the trace in %s as it comes\n",
                     gpio_bench::ShownText(kept, gpio_bench::kShownNameBytes).c_str());
    }
    const std::string keptNote = kept.empty() ? "" : " (the trace read is kept in " + kept + ")";

    std::string heading = "pxa-gpio-check:";
    SavedTrace saved;
    const std::vector<TraceMessage>& messages = saved.messages;
    std::vector<JsonInput> inputs;
    if (!options.tracePath.empty()) {
        JsonInput input;
        input.role = "trace";
        input.kind = traceKind;
        input.name = options.tracePath;
        std::string how;
        if (fromPort || traceKind == "pipe") {
            ProgressLine progress(STDERR_FILENO);
            LiveSource source;
            source.fd = fromPort ? port.Descriptor() : -1;
            source.name = options.tracePath;
            source.port = fromPort;
            if (options.quietSeconds != 0) source.quietSeconds = options.quietSeconds;
            source.progress = progress.Enabled() ? &progress : nullptr;
            source.keepFd = keepFd;
            // A pipe is opened here, once, as the saved-trace reader would.
            const int pipeFd = fromPort ? -1 : ::open(options.tracePath.c_str(), O_RDONLY | O_CLOEXEC);
            if (!fromPort && pipeFd < 0) {
                return Fail("cannot read '" + options.tracePath + "': " + std::strerror(errno));
            }
            if (!fromPort) source.fd = pipeFd;
            LiveTrace live;
            const bool read = ReadTraceLive(source, live, error);
            if (pipeFd >= 0) ::close(pipeFd);
            port.Close();
            if (keepFd >= 0 && ::close(keepFd) != 0 && live.keepError.empty()) live.keepError = std::strerror(errno);
            if (!live.keepError.empty()) {
                std::fprintf(stderr, "pxa-gpio-check: the trace kept in %s is short: %s\n",
                             gpio_bench::ShownText(kept, gpio_bench::kShownNameBytes).c_str(), live.keepError.c_str());
            }
            if (!read) return Fail(error + keptNote);
            saved = std::move(live.trace);
            how = fromPort ? "serial port at " + std::to_string(baud) + " Bd, " +
                                 DescribeLiveEnd(live, source.quietSeconds) + ", "
                           : "";
            if (!kept.empty()) {
                how += "kept in " + gpio_bench::ShownText(kept, gpio_bench::kShownNameBytes) + (live.keepError.empty() ? "" : " (short)") + ", ";
                input.kept = kept;
            }
            if (fromPort) {
                input.seconds = live.seconds;
                input.end = DescribeLiveEnd(live, source.quietSeconds);
            }
        } else if (!ReadTraceFile(options.tracePath, saved, error)) {
            return Fail(error);
        }
        heading += " trace " + gpio_bench::ShownText(options.tracePath, gpio_bench::kShownNameBytes) + " (" + how + EncodingName(saved.encoding) + ", " +
                   std::to_string(messages.size()) + " messages)";
        input.bytes = saved.bytes;
        input.messages = static_cast<std::int64_t>(messages.size());
        inputs.push_back(input);
    }
    Capture capture;
    if (!options.capturePath.empty()) {
        JsonInput input;
        input.role = "capture";
        input.name = options.capturePath;
        input.kind = InputKind(options.capturePath, &input.bytes);
        if (!ReadCaptureFile(options.capturePath, options.channels, capture, error)) {
            Fail(error + keptNote);
            // A channel to map is a matter of the command line, as with the other options.
            if (error.find("--channel") != std::string::npos) std::fprintf(stderr, "Try 'pxa-gpio-check --help'.\n");
            return kBadUse;
        }
        input.seconds = static_cast<double>(capture.endPs) / 1e12;
        inputs.push_back(input);
        heading += std::string(options.tracePath.empty() ? "" : ",") + " capture " +
                   gpio_bench::ShownText(options.capturePath, gpio_bench::kShownNameBytes) + " (" +
                   SecondsText(capture.endPs) +
                   (capture.sampleRateHz != 0 ? ", " + RateText(capture.sampleRateHz) : "") + ")";
    }

    const ExpectedRun expected = RunExpectedExercise(MappedBase(messages));
    const WritePlan plan = PlanFromRun(expected);
    std::vector<CheckResult> checks;
    TraceCheck trace;
    std::size_t readPhaseAt = 0;  // the trace's read phase among the checks, told again once the period is known
    if (!options.tracePath.empty()) {
        trace = CheckTrace(saved, expected);
        checks.insert(checks.end(), {trace.order, trace.registers, trace.readPhase});
        readPhaseAt = checks.size() - 1;
        if (options.capturePath.empty()) checks.push_back(PinsNotCaptured());
    }
    CaptureAnalysis analysis;
    std::vector<FaultMark> marks;
    if (!options.capturePath.empty()) {
        analysis = AnalyseCapture(capture, plan);
        checks.insert(checks.end(), {analysis.writePhase, analysis.period, analysis.glitches, analysis.readPhase});
        marks = analysis.marks;
        // The reader kept only the first changes of a line busier than any run.
        CheckResult activity("line activity");
        for (int line = 0; line < kLineCount; ++line) {
            const CapturedLine& captured = LineOf(capture, line);
            if (!captured.Busy()) continue;
            activity.Note(line, Status::Incomplete,
                          "toggles " + std::to_string(captured.changeCount) + " times in " +
                              SecondsText(capture.endPs) + ": a clock or noise, not this exercise");
            activity.summary += (activity.summary.empty() ? "" : "; ") + std::string(kLineNames[line]) + " (" +
                                captured.channel + ") changes more often than any run";
        }
        if (!activity.lineNotes.empty()) checks.push_back(activity);
    }
    if (!options.tracePath.empty() && !options.capturePath.empty()) {
        const CrossCheck cross = CheckTraceAgainstCapture(trace, capture, analysis, plan);
        checks.push_back(cross.result);
        if (cross.samplePeriodPs > 0) {
            RetimeReadPhase(trace, cross.samplePeriodPs / 1e6);
            checks[readPhaseAt] = trace.readPhase;
        }
        marks.insert(marks.end(), cross.marks.begin(), cross.marks.end());
    }

    const int exitCode = ExitCodeFor(checks);
    std::string svgContent;
    if (svg.IsOpen()) {
        const std::string title =
            std::string("verdict ") + StatusWord(OverallStatus(checks)) + ": " + OverallText(checks);
        const std::string subtitle = "captured: " + gpio_bench::ShownText(options.capturePath, gpio_bench::kShownNameBytes);
        svgContent = RenderCheckDiagram(capture, analysis, marks, subtitle,
                                        title.size() > 110 ? title.substr(0, 107) + "..." : title);
    }
    if (jsonToStandardOutput) {
        // The verdict last, so that its exit code is the one the process gives.
        int code = exitCode;
        std::string lost;
        const bool pictureLost = svg.IsOpen() && !svg.Commit(svgContent, lost);
        if (pictureLost) code = kBadUse;
        std::fputs(RenderJsonVerdict(inputs, checks, code).c_str(), stdout);
        if (!gpio_bench::FlushStandardOutput(error)) return Fail(error);
        if (pictureLost) Fail(lost);
        if (std::fclose(stdout) != 0) return Fail("cannot write standard output");
        return code;
    }
    // A report that did not reach standard output fails the check: no
    // verdict is given on it and no file published beside it.
    std::fputs(RenderReport(heading, checks).c_str(), stdout);
    if (!gpio_bench::FlushStandardOutput(error)) return Fail(error);
    if (std::fclose(stdout) != 0) return Fail("cannot write standard output");
    // Every output file or none.
    std::vector<gpio_bench::PendingOutput> outputs;
    if (svg.IsOpen()) outputs.push_back({&svg, svgContent});
    if (json.IsOpen()) outputs.push_back({&json, RenderJsonVerdict(inputs, checks, exitCode)});
    if (!outputs.empty() && !gpio_bench::CommitAll(outputs, error)) return Fail(error);
    return exitCode;
}
