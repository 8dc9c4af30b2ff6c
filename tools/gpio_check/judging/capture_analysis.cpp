#include "capture_analysis.h"

#include <algorithm>
#include <iterator>

#include "capture_analyser.h"

namespace gpio_check {
namespace analysis {

Analyser::Analyser(const Capture& capture, const WritePlan& plan, CaptureAnalysis& out, double startPs, double untilPs)
    : capture_(capture), plan_(plan), out_(out), startPs_(startPs), endPs_(std::min(untilPs, KnownUntil(capture))) {
    out_.endPs = endPs_;
    for (int line = 0; line < kLineCount; ++line) {
        raw_[static_cast<std::size_t>(line)] = ToSegments(LineOf(capture, line), startPs_, endPs_);
    }
}

void Analyser::Run() {
    const double nominal = static_cast<double>(plan_.stepPs);
    for (std::size_t line = 0; line < raw_.size(); ++line) {
        clean_[line] = WithoutGlitches(raw_[line], kGlitchFraction * nominal, &pulses_[line]);
    }
    if (!PlaceSteps()) {
        NoWritePhase();
        return;
    }
    out_.writePhaseFound = true;
    gridStartPs_ = out_.firstStepPs;
    starts_ = StepStarts(boundaries_, out_.firstStepPs, out_.stepPs, plan_.patterns.size());
    steps_ = LevelsOfSteps(clean_, startPs_, endPs_, starts_);
    out_.wholeWritePhase = out_.stepsNumbered && steps_.capturedCount == plan_.patterns.size() &&
                           4 * boundaries_.size() >= plan_.patterns.size();
    out_.writeEndPs = starts_.back();
    JudgeLines();
    MeasurePeriod();
    FindWriteEnd();
    FindGlitches();
    DescribeReadPhase();
}

void Analyser::NoWritePhase() {
    CheckResult& result = out_.writePhase;
    const double runPs = static_cast<double>(plan_.patterns.size() * plan_.stepPs);
    if (endPs_ < runPs) {
        result.Raise(Status::Incomplete);
        result.summary = "no write phase found in " + Seconds(endPs_) +
                         " of capture, shorter than the write phase";
    } else {
        // Not the board's fault unless the program is known to have run:
        // the trace of the same run tells.
        result.summary = "no run found: the lines do not step through the patterns in " +
                         Seconds(endPs_) + " of capture";
        for (int line = 0; line < kLineCount; ++line) {
            const Segments& segments = clean_[static_cast<std::size_t>(line)];
            if (segments.size() == 1) {
                result.Note(line, Status::Incomplete,
                            std::string("stuck ") + LevelWord(segments.front().level) +
                                ": never changes in the whole capture");
            } else {
                result.Note(line, Status::Incomplete, "changes " + std::to_string(segments.size() - 1) +
                                                          " times, never in the program's steps");
            }
            Mark(line, 0, endPs_, "no write phase");
        }
        result.details.push_back("either the program did not run while capturing, or the lines are stuck "
                                 "(the run's trace tells which)");
    }
    out_.period.Raise(Status::Incomplete);
    out_.period.summary = "not measured: no write phase";
    out_.glitches.summary = "not looked for: no write phase";
    out_.glitches.Raise(Status::Incomplete);
    out_.readPhase.Raise(Status::Incomplete);
    out_.readPhase.summary = "not found: no write phase before it";
}

void Analyser::Mark(int line, double from, double to, const std::string& text) {
    out_.marks.push_back({line, from, to, text});
}

// Where placed step `step` starts.
double Analyser::StepStart(std::size_t step) const {
    return step < starts_.size() ? starts_[step] : gridStartPs_ + static_cast<double>(step) * out_.stepPs;
}

}  // namespace analysis

using namespace analysis;

WritePlan PlanFromRun(const ExpectedRun& run) {
    WritePlan plan;
    std::uint64_t firstWriteUs = 0, firstReadUs = 0, secondReadUs = 0;
    std::size_t reads = 0;
    for (std::size_t i = 0; i < run.messages.size(); ++i) {
        if (run.messages[i].kind == MessageKind::Writing) {
            if (plan.patterns.empty()) firstWriteUs = run.timesUs[i];
            plan.patterns.push_back(run.messages[i].value);
        }
        if (run.messages[i].kind == MessageKind::ReadValue) {
            if (reads == 0) firstReadUs = run.timesUs[i];
            if (reads == 1) secondReadUs = run.timesUs[i];
            ++reads;
        }
    }
    if (!plan.patterns.empty()) {
        plan.stepPs = (run.writeEndUs - firstWriteUs) * 1000000 / plan.patterns.size();
    }
    plan.sampleStepPs = (secondReadUs - firstReadUs) * 1000000;
    plan.samples = reads;
    return plan;
}

CaptureAnalysis AnalyseCapture(const Capture& capture, const WritePlan& plan) {
    const double everything = static_cast<double>(capture.endPs);
    CaptureAnalysis analysis;
    Analyser(capture, plan, analysis, 0, everything).Run();
    // A board that restarts runs again from the start: the capture's last
    // whole write phase is the run a trace judges too (the last whole one).
    // The run placed first is the one the patterns fit best, not
    // necessarily the first: whole runs before it are looked for too.
    std::vector<double> earlier;
    while (analysis.writePhaseFound && earlier.size() < kMostRunsLookedFor) {
        // From the first change after the run (a reset's, or the inputs'):
        // a reset's edges are no steps of the next run.
        double nextPs = everything;
        for (int line = 0; line < kLineCount; ++line) {
            const auto& changes = LineOf(capture, line).changes;
            const double afterPs = analysis.writeEndPs + 0.5 * analysis.stepPs;
            const auto next = std::upper_bound(changes.begin(), changes.end(), afterPs,
                                               [](double t, const LevelChange& c) { return t < static_cast<double>(c.timePs); });
            if (next != changes.end()) nextPs = std::min(nextPs, static_cast<double>(next->timePs));
        }
        if (nextPs >= everything) break;
        CaptureAnalysis later;
        Analyser(capture, plan, later, nextPs, everything).Run();
        if (!later.writePhaseFound || !later.wholeWritePhase) break;
        earlier.push_back(analysis.firstStepPs);
        analysis = std::move(later);
    }
    for (double beforePs = earlier.empty() ? analysis.firstStepPs : earlier.front();
         analysis.writePhaseFound && earlier.size() < kMostRunsLookedFor;) {
        CaptureAnalysis before;
        Analyser(capture, plan, before, 0, beforePs - 0.5 * analysis.stepPs).Run();
        if (!before.writePhaseFound || !before.wholeWritePhase) break;
        beforePs = before.firstStepPs;
        earlier.insert(earlier.begin(), beforePs);
    }
    if (!earlier.empty()) {
        std::string from;
        for (double startPs : earlier) from += (from.empty() ? "" : ", ") + Seconds(std::max(0.0, startPs));
        CheckResult& result = analysis.writePhase;
        result.Raise(Status::Info);
        result.summary += "; the board restarted: the capture's write phase from " +
                          Seconds(analysis.firstStepPs) + " judged, the last whole run of " +
                          std::to_string(earlier.size() + 1);
        result.details.insert(result.details.begin(),
                              "the board restarted: the capture holds write phases from " + from + " and " +
                                  Seconds(analysis.firstStepPs) + "; the last whole one is judged, as the "
                                  "trace judges the last whole run");
        analysis.restarts = earlier.size();
    }
    return analysis;
}

const CapturedLine& LineOf(const Capture& capture, int line) { return line == 0 ? capture.gpio33 : capture.gpio80; }

namespace {
// The first change after `timePs`.
std::vector<LevelChange>::const_iterator ChangeAfter(const CapturedLine& line, double timePs) {
    return std::upper_bound(line.changes.begin(), line.changes.end(), timePs,
                            [](double t, const LevelChange& c) { return t < static_cast<double>(c.timePs); });
}
}  // namespace

Level LevelAt(const CapturedLine& line, double timePs) {
    if (line.changes.empty()) return Level::Unknown;
    const auto after = ChangeAfter(line, timePs);
    return after == line.changes.begin() ? line.changes.front().level : std::prev(after)->level;
}

bool SteadyBetween(const CapturedLine& line, double fromPs, double toPs) {
    const auto after = ChangeAfter(line, fromPs);
    return after == line.changes.end() || static_cast<double>(after->timePs) > toPs;
}

}  // namespace gpio_check
