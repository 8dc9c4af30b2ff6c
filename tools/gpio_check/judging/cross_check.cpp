#include "cross_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace gpio_check {
namespace {

constexpr double kPsPerMs = 1e9;
// A pin's level counts as seen within this time of a sample: a slow edge
// crosses the analyser's threshold and the processor's at different times,
// and the board's clock and the analyser's drift apart over the read phase.
constexpr double kTimeSlackPs = 1e9;  // 1 ms
constexpr std::size_t kShownSamples = 3;
constexpr std::size_t kMostMarks = 16;
// Bounds on the work for a line that changes all the time (a clock or
// noise): past them a stretch counts as explaining any sample.
constexpr std::size_t kMostSpans = 1024;
constexpr std::size_t kMostChangesScanned = 4096;
// The sample periods tried when learning the board's: a step of 10 us.
constexpr double kPeriodStepPs = 1e7;
constexpr std::size_t kMostTellingSamples = 64;

struct Span {
    double from;
    double to;
};
using Times = std::vector<Span>;  // sorted, not overlapping

Times Merged(Times spans) {
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    Times merged;
    for (const Span& span : spans) {
        if (!merged.empty() && span.from <= merged.back().to) {
            merged.back().to = std::max(merged.back().to, span.to);
        } else {
            merged.push_back(span);
        }
    }
    return merged;
}

// Every time `least` to `most` after one of `times`.
Times Reach(const Times& times, double least, double most) {
    Times reach;
    for (const Span& span : times) reach.push_back({span.from + least, span.to + most});
    return Merged(reach);
}

Times Intersect(const Times& a, const Times& b) {
    Times both;
    for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
        const double from = std::max(a[i].from, b[j].from), to = std::min(a[i].to, b[j].to);
        if (from <= to) both.push_back({from, to});
        (a[i].to < b[j].to) ? ++i : ++j;
    }
    return both;
}

// Fewer, wider spans: more times allowed, never fewer.
void Bound(Times& times) {
    while (times.size() > kMostSpans) {
        Times joined;
        for (std::size_t i = 0; i < times.size(); i += 2) {
            joined.push_back({times[i].from, i + 1 < times.size() ? times[i + 1].to : times[i].to});
        }
        times.swap(joined);
    }
}

bool IsDefinite(Level level) { return level == Level::Low || level == Level::High; }

// The times from `from` to `to` at which the line can have been read as
// `high`: where the pin shows that level within the slack, shows none
// (x, z), or is past the end of the capture.
struct Allowed {
    Times times;
    bool definite = false;  // the pin shows a level somewhere in the stretch
};

Allowed AllowedTimes(const CapturedLine& line, bool high, double from, double to, double endPs) {
    Allowed allowed;
    const auto& changes = line.changes;
    auto it = std::upper_bound(changes.begin(), changes.end(), from - kTimeSlackPs,
                               [](double t, const LevelChange& c) { return t < static_cast<double>(c.timePs); });
    if (it != changes.begin()) --it;
    Times spans;
    for (std::size_t scanned = 0; it != changes.end() && static_cast<double>(it->timePs) <= to + kTimeSlackPs;
         ++it, ++scanned) {
        const double start = static_cast<double>(it->timePs);
        if (scanned == kMostChangesScanned) {
            spans.push_back({start - kTimeSlackPs, to});
            break;
        }
        const double end = std::next(it) != changes.end() ? static_cast<double>(std::next(it)->timePs) : endPs;
        if (end < start || start >= endPs) continue;
        if (IsDefinite(it->level) && end > from && start < to) allowed.definite = true;
        if (IsDefinite(it->level) && (it->level == Level::High) != high) continue;
        spans.push_back({std::max(from, start - kTimeSlackPs), std::min(to, end + kTimeSlackPs)});
    }
    if (to >= endPs) spans.push_back({std::max(from, endPs), to});
    for (const Span& span : Merged(spans)) {
        if (span.from <= span.to) allowed.times.push_back(span);
    }
    return allowed;
}

// The timing a board's samples may have, in capture time.
struct Model {
    double startEarliestPs;  // where the lines are made inputs
    double startLatestPs;
    double leastGapPs;
    double greatestGapPs;
    double endPs;
};

// Where the samples can have been read, one after another, for the lines
// in `lines`: the samples no such timing explains, and how many could be
// held against a level of the pins.
struct Fit {
    std::vector<std::size_t> unexplained;  // indexes into the samples
    std::vector<Times> reach;              // for each sample, the times it can have come
    std::size_t compared = 0;
    std::size_t undecided = 0;  // the pins x or z wherever the sample can be
    std::size_t outside = 0;    // explained only past the end of the capture
};

Fit FitSamples(const std::vector<TraceSample>& samples, const Capture& capture, const std::vector<int>& lines,
               const Model& model) {
    Fit fit;
    Times possible;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        Times reach;
        if (i == 0) {
            // The first sample within one period of the lines becoming inputs.
            const double before = static_cast<double>(samples[0].number - 1);
            reach = {{model.startEarliestPs + before * model.leastGapPs,
                      model.startLatestPs + (before + 1) * model.greatestGapPs}};
        } else {
            const double steps = static_cast<double>(samples[i].number - samples[i - 1].number);
            reach = Reach(possible, steps * model.leastGapPs, steps * model.greatestGapPs);
        }
        Bound(reach);
        fit.reach.push_back(reach);
        if (reach.front().from >= model.endPs) {
            ++fit.outside;
            possible = reach;
            continue;
        }
        Times explained = reach;
        bool definite = false;
        for (int line : lines) {
            const bool high = (samples[i].value & kLineBits[line]) != 0;
            const Allowed allowed =
                AllowedTimes(LineOf(capture, line), high, reach.front().from, reach.back().to, model.endPs);
            explained = Intersect(explained, allowed.times);
            definite = definite || allowed.definite;
        }
        definite ? ++fit.compared : ++fit.undecided;
        if (explained.empty()) {
            // Unexplained: the samples after it go on from wherever it came.
            fit.unexplained.push_back(i);
            possible = reach;
        } else {
            // A sample that fits only after the capture ends is not checked.
            if (explained.front().from >= model.endPs) ++fit.outside;
            possible = explained;
        }
    }
    return fit;
}

double TimeOf(const TraceSample& sample, const Model& model, double periodPs) {
    return model.startEarliestPs + (static_cast<double>(sample.number) - 0.5) * periodPs;
}

// A line's samples at one steady timing, each in the middle of its period:
// those the capture holds with a level, and those that read the other level
// while the pin held its level all around.
struct Timed {
    std::size_t held = 0;
    std::vector<std::size_t> wrong;  // indexes into the samples
};

Timed AtPeriod(const std::vector<TraceSample>& samples, const CapturedLine& pin, int line, const Model& model,
               double periodPs) {
    Timed timed;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double at = TimeOf(samples[i], model, periodPs);
        if (at >= model.endPs) break;
        const Level level = LevelAt(pin, at);
        if (!IsDefinite(level)) continue;
        ++timed.held;
        const bool read = (samples[i].value & kLineBits[line]) != 0;
        if (read != (level == Level::High) && SteadyBetween(pin, at - kTimeSlackPs, at + kTimeSlackPs)) {
            timed.wrong.push_back(i);
        }
    }
    return timed;
}

std::string Ms(double ps, const char* format = "%.1f ms") {
    char text[32];
    std::snprintf(text, sizeof text, format, ps / kPsPerMs);
    return text;
}

// The samples next to a change of a line in the trace: they alone tell
// when the samples came.
std::vector<std::size_t> TellingSamples(const std::vector<TraceSample>& samples) {
    std::vector<std::size_t> telling;
    for (std::size_t i = 1; i < samples.size() && telling.size() < kMostTellingSamples; ++i) {
        if (samples[i].number != samples[i - 1].number + 1) continue;
        if (((samples[i].value ^ samples[i - 1].value) & (kLineBits[0] | kLineBits[1])) == 0) continue;
        telling.push_back(i - 1);
        telling.push_back(i);
    }
    return telling;
}

// The steady sample periods under which every telling sample reads the
// level its pins show, the first sample from 0 to one period after the
// lines are made inputs.
void LearnPeriod(const std::vector<TraceSample>& samples, const Capture& capture, const Model& model,
                 CrossCheck& check) {
    const std::vector<std::size_t> telling = TellingSamples(samples);
    if (telling.empty()) return;
    const auto fits = [&](double start, double period) {
        bool definite = false;
        for (std::size_t i : telling) {
            const double t = start + static_cast<double>(samples[i].number - 1) * period;
            if (t >= model.endPs) continue;
            for (int line = 0; line < kLineCount; ++line) {
                const Level level = LevelAt(LineOf(capture, line), t);
                if (!IsDefinite(level)) continue;
                definite = true;
                if ((level == Level::High) != ((samples[i].value & kLineBits[line]) != 0)) return false;
            }
        }
        return definite;
    };
    double low = 0, high = 0;
    for (double period = model.leastGapPs; period <= model.greatestGapPs; period += kPeriodStepPs) {
        bool any = false;
        for (double start : {model.startEarliestPs, model.startLatestPs}) {
            for (double part = 0; part <= 1.0 && !any; part += 0.25) any = fits(start + part * period, period);
        }
        if (!any) continue;
        if (low == 0) low = period;
        high = period;
    }
    check.samplePeriodLowPs = low;
    check.samplePeriodHighPs = high;
}

std::string PeriodText(const CrossCheck& check, double askedPs, const Model& model) {
    const double low = check.samplePeriodLowPs, high = check.samplePeriodHighPs;
    if (low == 0 || high - low > 0.2 * askedPs) {
        return "the sample period is not narrowed down by the samples' changes: any from " +
               Ms(model.leastGapPs) + " to " + Ms(model.greatestGapPs) + " was allowed";
    }
    const double period = (low + high) / 2;
    const double more = period - askedPs;
    std::string text = "samples every " + Ms(period);
    if (std::fabs(more) < 0.05 * kPsPerMs) {
        text += ", as asked";
    } else {
        text += ": " + Ms(askedPs, "%.0f ms") + " asked, " + Ms(std::fabs(more)) + (more > 0 ? " more" : " less");
    }
    return text + " (" + Ms(low, "%.2f") + " to " + Ms(high, "%.2f ms") +
           " puts every sample where the trace changes on the level its pin shows)";
}

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
    // The trace shows the program made the lines outputs and stepped them
    // through the patterns: a capture of that run in which they never step
    // shows lines that do not follow the program.
    if (!analysis.writePhaseFound && !samples.empty() && trace.order.status == Status::Ok &&
        analysis.writePhase.status == Status::Incomplete && !analysis.writePhase.lineNotes.empty()) {
        result.summary = "the trace shows a whole run, the captured lines never step through its patterns";
        for (const LineNote& note : analysis.writePhase.lineNotes) {
            result.Note(note.line, Status::Fault, note.text + " while the program ran");
        }
        return check;
    }
    if (!analysis.writePhaseFound || samples.empty()) {
        result.Raise(Status::Incomplete);
        result.summary = samples.empty() ? "nothing to compare: no samples in the trace"
                                         : "nothing to compare: no write phase in the capture to align on";
        return check;
    }
    // A board whose clock runs fast sleeps less than asked, by the factor
    // its steps show; one that runs slow or prints sleeps more.
    const double scale = analysis.stepPs / static_cast<double>(plan.stepPs);
    const double asked = static_cast<double>(plan.sampleStepPs);
    const Model model{analysis.writeEndEarliestPs, analysis.writeEndLatestPs, asked * std::min(1.0, scale),
                      kSlowestSampleFactor * asked * std::max(1.0, scale), analysis.endPs};

    // Lines crossed on the board or on the probes: either way the program
    // reads the pin whose channel carries its line's pattern.
    Capture swapped;
    if (analysis.linesSwapped) {
        swapped = capture;
        std::swap(swapped.gpio33, swapped.gpio80);
        result.details.push_back("each line's samples held against the channel that carries its pattern, "
                                 "as the lines look swapped");
    }
    const Capture& pins = analysis.linesSwapped ? swapped : capture;

    // The period first: the lines' notes count the samples it puts past
    // the capture's end as not compared, as the check's details do.
    LearnPeriod(samples, pins, model, check);
    const bool periodFound =
        check.samplePeriodLowPs > 0 && check.samplePeriodHighPs - check.samplePeriodLowPs <= 0.2 * asked;
    std::size_t afterEnd = 0;
    if (periodFound) {
        for (const TraceSample& sample : samples) {
            const double at = model.startEarliestPs + static_cast<double>(sample.number - 1) * check.samplePeriodLowPs;
            if (at >= model.endPs) ++afterEnd;
        }
    }
    // Where a line's samples are counted and marked when no timing explains
    // them all: at the period found, else at the asked one on the board's clock.
    const double timedPeriod = periodFound ? (check.samplePeriodLowPs + check.samplePeriodHighPs) / 2 : asked * scale;

    std::size_t outside = 0;
    bool eachLineFits = true;
    for (int line = 0; line < kLineCount; ++line) {
        const Fit fit = FitSamples(samples, pins, {line}, model);
        const std::string count = std::to_string(fit.compared);
        const std::string considered = std::to_string(fit.compared + fit.undecided);
        if (fit.compared == 0) {
            // An undriven pin has no level to hold a sample against.
            if (fit.undecided > 0) {
                result.Note(line, Status::NotSeen, "no sample compared: the pin was x or z");
            } else {
                result.Note(line, Status::Incomplete, "no sample could be held against the pin");
            }
            continue;
        }
        if (fit.undecided > 0) {
            result.details.push_back(std::string(kLineNames[line]) + ": " + std::to_string(fit.undecided) +
                                     " samples not compared: the pin was x or z");
        }
        if (fit.unexplained.empty() && fit.outside > 0) {
            // Past the end only where every sample fits: a faulty line's
            // samples after a misfit go anywhere.
            outside = std::max(outside, fit.outside);
            result.Note(line, Status::Incomplete,
                        "reads its pin only if " + std::to_string(fit.outside) +
                            " samples came after the capture ended: a longer capture tells");
            continue;
        }
        const double share = static_cast<double>(fit.compared) / static_cast<double>(fit.compared + fit.undecided);
        if (fit.unexplained.empty() && share < kLeastComparedShare) {
            result.Note(line, Status::NotSeen,
                        "reads its pin in the " + count + " of " + considered +
                            " samples compared, too few to judge: the pin was x or z at the others");
            continue;
        }
        if (fit.unexplained.empty()) {
            const std::size_t held = fit.compared - std::min(fit.compared, afterEnd);
            result.Note(line, Status::Ok,
                        "reads its pin in all " + std::to_string(held) +
                            (fit.undecided > 0 ? " of " + considered : "") + " samples compared" +
                            (fit.undecided > 0 ? " (the pin x or z at the others)" : "") +
                            (afterEnd > 0 ? "; " + std::to_string(afterEnd) + " come after the capture's end" : ""));
            continue;
        }
        eachLineFits = false;
        std::string examples;
        for (std::size_t i = 0; i < fit.unexplained.size() && i < kShownSamples; ++i) {
            const std::size_t at = fit.unexplained[i];
            const Times& reach = fit.reach[at];
            const bool read = (samples[at].value & kLineBits[line]) != 0;
            const Level seen = LevelAt(LineOf(pins, line), reach.front().from);
            const bool steady = SteadyBetween(LineOf(pins, line), reach.front().from - kTimeSlackPs,
                                              std::min(model.endPs, reach.back().to) + kTimeSlackPs);
            examples += std::string(i > 0 ? "; " : "") + "sample " + std::to_string(samples[at].number) +
                        " read " + (read ? "1" : "0") +
                        (steady && IsDefinite(seen) ? std::string(" while the pin was ") +
                                                          (seen == Level::High ? "high" : "low")
                                                    : std::string(" where it can have come"));
        }
        // Once no timing explains a sample, the ones after it may come
        // anywhere, even past the capture's end: counted and marked at one
        // timing instead, so that the count and the marks say the same.
        const Timed timed = AtPeriod(samples, LineOf(pins, line), line, model, timedPeriod);
        std::string text = "the input reads other than the pin: no timing of the samples explains " +
                           std::to_string(fit.unexplained.size()) + " of " + count + " samples";
        if (!timed.wrong.empty()) {
            text = "the input reads other than the pin in " + std::to_string(timed.wrong.size()) + " of " +
                   std::to_string(timed.held) + " samples at one every " + Ms(timedPeriod) +
                   ", and no timing of the samples explains them all";
        }
        result.Note(line, Status::Fault, text);
        result.details.push_back(std::string(kLineNames[line]) + ": " + text + " (" + examples +
                                 (fit.unexplained.size() > kShownSamples ? "; ..." : "") + ")");
        if (!timed.wrong.empty()) {
            for (std::size_t i = 0; i < timed.wrong.size() && check.marks.size() < kMostMarks; ++i) {
                std::size_t last = i;
                while (last + 1 < timed.wrong.size() && timed.wrong[last + 1] == timed.wrong[last] + 1) ++last;
                const double from = TimeOf(samples[timed.wrong[i]], model, timedPeriod);
                const double to = std::min(model.endPs, TimeOf(samples[timed.wrong[last]], model, timedPeriod) + timedPeriod);
                check.marks.push_back({line, from, std::max(from, to), "read wrong"});
                i = last;
            }
            continue;
        }
        for (std::size_t i = 0; i < fit.unexplained.size() && check.marks.size() < kMostMarks; ++i) {
            // One mark for each run of unexplained samples, over their earliest times.
            std::size_t last = i;
            while (last + 1 < fit.unexplained.size() && fit.unexplained[last + 1] == fit.unexplained[last] + 1) ++last;
            const double from = fit.reach[fit.unexplained[i]].front().from;
            const double to = std::min(model.endPs, fit.reach[fit.unexplained[last]].front().from + model.leastGapPs);
            check.marks.push_back({line, from, std::max(from, to), "read wrong"});
            i = last;
        }
    }
    if (eachLineFits && !FitSamples(samples, pins, {0, 1}, model).unexplained.empty()) {
        result.Raise(Status::Fault);
        result.details.push_back("each line's samples fit its pin, but no one timing fits both: the trace "
                                 "shows the two lines change in another order than the pins do");
    }
    result.details.insert(result.details.begin(), PeriodText(check, asked, model));
    result.summary = std::to_string(samples.size()) + " samples held against the pins";
    std::string unseen;
    for (const LineNote& note : result.lineNotes) {
        if (note.status != Status::NotSeen) continue;
        unseen += std::string(unseen.empty() ? "" : " and ") + kLineNames[note.line];
    }
    if (!unseen.empty()) result.summary += "; too few compared for " + unseen + " (the pin x or z)";
    if (check.samplePeriodLowPs > 0 && check.samplePeriodHighPs - check.samplePeriodLowPs <= 0.2 * asked) {
        check.samplePeriodPs = (check.samplePeriodLowPs + check.samplePeriodHighPs) / 2;
        result.summary += ", one every " + Ms(check.samplePeriodPs);
    }
    if (outside == 0 && afterEnd > 0) {
        // At the period found, the last samples may still come after the end.
        result.Raise(Status::Incomplete);
        result.details.push_back(std::to_string(afterEnd) +
                                 " samples come after the end of the capture at the period found");
    }
    if (outside > 0) {
        result.Raise(Status::Incomplete);
        result.details.push_back(std::to_string(outside) +
                                 " samples fall past the end of the capture in every timing that explains them");
    }
    return check;
}

}  // namespace gpio_check
