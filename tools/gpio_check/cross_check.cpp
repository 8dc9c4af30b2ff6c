#include "cross_check.h"

#include <algorithm>
#include <string>

namespace gpio_check {
namespace {

constexpr double kPsPerUs = 1e6;
constexpr double kTimeSlackPs = 1e9;  // 1 ms
constexpr std::size_t kShownSamples = 3;

}  // namespace

CrossCheck CheckTraceAgainstCapture(const TraceCheck& trace, const Capture& capture,
                                    const CaptureAnalysis& analysis, const WritePlan& plan) {
    CrossCheck check;
    CheckResult& result = check.result;
    const std::vector<TraceSample>& samples = trace.samples;
    if (!trace.samplesPlaced) {
        result.Raise(Status::Incomplete);
        result.summary = "nothing compared: the trace's samples cannot be placed in the run";
        return check;
    }
    if (!analysis.writePhaseFound || samples.empty()) {
        result.Raise(Status::Incomplete);
        result.summary = samples.empty() ? "nothing to compare: no samples in the trace"
                                         : "nothing to compare: no write phase in the capture to align on";
        return check;
    }
    // A board whose steps run long may run its samples long too, by the
    // same factor or by the same added time a step.
    const double scale = analysis.stepPs / static_cast<double>(plan.stepPs);
    const double addedPerStep = std::max(0.0, analysis.stepPs - static_cast<double>(plan.stepPs));
    const double endPs = static_cast<double>(capture.endPs);
    std::size_t compared[kLineCount] = {}, undecided[kLineCount] = {}, unsteady = 0, uncaptured = 0;
    std::vector<std::string> wrong[kLineCount];
    for (const TraceSample& sample : samples) {
        const double elapsed = static_cast<double>(sample.afterWriteEndUs) * kPsPerUs;
        const double stepsBefore = static_cast<double>(sample.afterWriteEndUs) * kPsPerUs /
                                   static_cast<double>(plan.sampleStepPs);
        const double from = analysis.writeEndPs + elapsed * std::min(1.0, scale) - kTimeSlackPs;
        const double to = std::min(endPs, analysis.writeEndPs + elapsed * std::max(1.0, scale) +
                                              stepsBefore * addedPerStep + kTimeSlackPs);
        if (from < 0 || from >= endPs) {
            ++uncaptured;
            continue;
        }
        for (int line = 0; line < kLineCount; ++line) {
            const CapturedLine& captured = LineOf(capture, line);
            if (!SteadyBetween(captured, from, to)) {
                ++unsteady;
                continue;
            }
            const Level level = LevelAt(captured, from);
            if (level != Level::Low && level != Level::High) {
                ++undecided[line];
                continue;
            }
            ++compared[line];
            const bool reported = (sample.value & kLineBits[line]) != 0;
            if (reported == (level == Level::High)) continue;
            wrong[line].push_back("sample " + std::to_string(sample.number) + " read " + (reported ? "1" : "0") +
                                  " while the pin was " + (level == Level::High ? "high" : "low"));
            check.marks.push_back({line, from, to, "read wrong"});
        }
    }
    for (int line = 0; line < kLineCount; ++line) {
        const std::string count = std::to_string(compared[line]);
        if (compared[line] == 0) {
            // An undriven pin has no level to hold a sample against.
            if (undecided[line] > 0) {
                result.Note(line, Status::Info, "no sample compared: the pin was x or z");
            } else {
                result.Note(line, Status::Incomplete, "no sample could be held against the pin");
            }
            continue;
        }
        if (wrong[line].empty()) {
            result.Note(line, Status::Ok, "reads its pin in all " + count + " samples compared");
            continue;
        }
        std::string examples;
        for (std::size_t i = 0; i < wrong[line].size() && i < kShownSamples; ++i) {
            examples += (i > 0 ? "; " : "") + wrong[line][i];
        }
        const std::string text = "the input reads other than the pin in " + std::to_string(wrong[line].size()) +
                                 " of " + count + " samples";
        result.Note(line, Status::Fault, text);
        result.details.push_back(std::string(kLineNames[line]) + ": " + text + " (" + examples +
                                 (wrong[line].size() > kShownSamples ? "; ..." : "") + ")");
    }
    result.summary = std::to_string(samples.size()) + " samples aligned on the end of the write phase";
    if (uncaptured > 0) {
        result.Raise(Status::Incomplete);
        result.details.push_back(std::to_string(uncaptured) + " samples fall outside the capture");
    }
    if (unsteady > 0) {
        result.details.push_back(std::to_string(unsteady) +
                                 " line samples not compared: the pin changed near the sample's time");
    }
    for (int line = 0; line < kLineCount; ++line) {
        if (undecided[line] > 0) {
            result.details.push_back(std::string(kLineNames[line]) + ": " + std::to_string(undecided[line]) +
                                     " samples not compared: the pin was x or z");
        }
    }
    return check;
}

}  // namespace gpio_check
