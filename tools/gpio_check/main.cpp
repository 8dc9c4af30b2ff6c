// pxa-gpio-check: a real board's run of the exercise, as its trace and a
// logic-analyser capture show it, held against the same routine on the
// simulated board, with a diagnosis line by line.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ios>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "capture_analysis.h"
#include "capture_reader.h"
#include "check_diagram.h"
#include "check_options.h"
#include "check_report.h"
#include "cross_check.h"
#include "expected_run.h"
#include "output_file.h"
#include "same_file.h"
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
                 gpio_check::ShownText(message, gpio_check::kShownMessageBytes).c_str());
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

}  // namespace

int main(int argc, char** argv) {
    using namespace gpio_check;
    // A closed standard output or error gets /dev/null, so the picture's
    // temporary file can never take its descriptor and the report land in it.
    const unsigned closedDescriptors = gpio_sim::ReserveStandardDescriptors();
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
        if (!gpio_sim::FlushStandardOutput(error) || std::fclose(stdout) != 0) return Fail(error);
        return 0;
    }

    // The picture never replaces an input, however the two paths are spelled.
    for (const auto& [input, what] : {std::make_pair(&options.tracePath, "trace"),
                                      std::make_pair(&options.capturePath, "capture")}) {
        if (!options.svgPath.empty() && !input->empty() && NameSameFile(options.svgPath, *input)) {
            return Fail("--svg " + options.svgPath + " is the " + what +
                        " it would be drawn from: give the picture a file of its own");
        }
    }
    // The picture's file is made now, so an unwritable one shows before the work.
    gpio_sim::OutputFile svg;
    gpio_sim::RemoveTemporariesOnSignals();
    if (!options.svgPath.empty() && !svg.Open(options.svgPath, error)) return Fail(error);
    if (svg.IsStandardOutput()) {
        return Fail("--svg " + options.svgPath + " is standard output, where the report goes");
    }

    std::string heading = "pxa-gpio-check:";
    SavedTrace saved;
    const std::vector<TraceMessage>& messages = saved.messages;
    if (!options.tracePath.empty()) {
        if (!ReadTraceFile(options.tracePath, saved, error)) return Fail(error);
        heading += " trace " + ShownText(options.tracePath, kShownNameBytes) + " (" +
                   EncodingName(saved.encoding) + ", " + std::to_string(messages.size()) + " messages)";
    }
    Capture capture;
    if (!options.capturePath.empty()) {
        if (!ReadCaptureFile(options.capturePath, options.channels, capture, error)) return Fail(error);
        heading += std::string(options.tracePath.empty() ? "" : ",") + " capture " +
                   ShownText(options.capturePath, kShownNameBytes) + " (" +
                   SecondsText(capture.endPs) +
                   (capture.sampleRateHz != 0 ? ", " + RateText(capture.sampleRateHz) : "") + ")";
    }

    const ExpectedRun expected = RunExpectedExercise(MappedBase(messages));
    const WritePlan plan = PlanFromRun(expected);
    std::vector<CheckResult> checks;
    TraceCheck trace;
    if (!options.tracePath.empty()) {
        trace = CheckTrace(saved, expected);
        checks.insert(checks.end(), {trace.order, trace.registers, trace.readPhase});
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
        marks.insert(marks.end(), cross.marks.begin(), cross.marks.end());
    }

    // A report that did not reach standard output fails the check: no
    // verdict is given on it and no picture published beside it.
    std::fputs(RenderReport(heading, checks).c_str(), stdout);
    if (!gpio_sim::FlushStandardOutput(error)) return Fail(error);
    if (svg.IsOpen()) {
        const std::string subtitle = "captured: " + ShownText(options.capturePath, kShownNameBytes);
        const std::string picture = RenderCheckDiagram(capture, analysis, marks, subtitle);
        if (!svg.Commit(picture, error)) return Fail(error);
    }
    if (std::fclose(stdout) != 0) return Fail("cannot write standard output");
    return ExitCodeFor(checks);
}
