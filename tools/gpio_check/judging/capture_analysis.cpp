#include "capture_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <queue>

#include "trace_check.h"

namespace gpio_check {
namespace {

constexpr double kPsPerSecond = 1e12;
constexpr double kPsPerMs = 1e9;
// The middle of a step, where its level is taken: clear of edges that come
// early or late.
constexpr double kStepMargin = 0.1;
constexpr std::size_t kShownSteps = 4;
constexpr std::size_t kLargestMissingRun = 3;
constexpr std::size_t kMostRunsLookedFor = 16;

struct Segment {
    double start;
    double end;
    Level level;
};
using Segments = std::vector<Segment>;

std::string Seconds(double ps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", ps / kPsPerSecond);
    return text;
}

std::string Milliseconds(double ps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", ps / kPsPerMs);
    return text;
}

const char* LevelWord(Level level) {
    switch (level) {
    case Level::Low: return "low";
    case Level::High: return "high";
    case Level::Unknown: return "unknown (x)";
    case Level::Undriven: return "undriven (z)";
    }
    return "?";
}

// A line busier than any run is kept only up to its last kept change: the
// capture holds both lines only that far.
double KnownUntil(const Capture& capture) {
    double endPs = static_cast<double>(capture.endPs);
    for (const CapturedLine* line : {&capture.gpio33, &capture.gpio80}) {
        if (line->Busy() && !line->changes.empty()) {
            endPs = std::min(endPs, static_cast<double>(line->changes.back().timePs));
        }
    }
    return endPs;
}

// From `startPs` on: a later run is placed in the capture after an earlier one.
Segments ToSegments(const CapturedLine& line, double startPs, double endPs) {
    Segments segments;
    for (std::size_t i = 0; i < line.changes.size(); ++i) {
        const double start = std::max(startPs, static_cast<double>(line.changes[i].timePs));
        if (i + 1 < line.changes.size() && static_cast<double>(line.changes[i + 1].timePs) <= startPs) continue;
        if (i > 0 && start >= endPs) break;
        const double end = i + 1 < line.changes.size() ? static_cast<double>(line.changes[i + 1].timePs) : endPs;
        if (end <= start && i + 1 < line.changes.size()) continue;
        if (!segments.empty() && segments.back().level == line.changes[i].level) {
            segments.back().end = std::max(end, segments.back().end);
        } else {
            segments.push_back({start, std::max(start, end), line.changes[i].level});
        }
    }
    return segments;
}

// Pulses shorter than `shortestPs` folded into the level around them, the
// shortest first: a pulse soon after a step's edge leaves the edge where
// it is, rather than taking the stretch between them for a pulse too.
// `removed` gets each pulse folded in.
Segments WithoutGlitches(const Segments& segments, double shortestPs, Segments* removed = nullptr) {
    const std::size_t n = segments.size();
    Segments merged = segments;
    std::vector<std::size_t> prev(n), next(n);
    std::vector<bool> gone(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        prev[i] = i - 1;  // wraps for the first: never a pulse
        next[i] = i + 1;
    }
    using Entry = std::pair<double, std::size_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> shortest;
    for (std::size_t i = 1; i + 1 < n; ++i) shortest.push({merged[i].end - merged[i].start, i});
    while (!shortest.empty()) {
        const auto [length, i] = shortest.top();
        shortest.pop();
        if (gone[i] || length != merged[i].end - merged[i].start || length >= shortestPs) continue;
        if (prev[i] >= n || next[i] >= n) continue;
        const std::size_t before = prev[i], after = next[i];
        if (merged[before].level != merged[after].level) continue;
        if (removed != nullptr) removed->push_back(merged[i]);
        // The pulse and the stretch after it join the one before.
        merged[before].end = merged[after].end;
        gone[i] = gone[after] = true;
        next[before] = next[after];
        if (next[after] < n) prev[next[after]] = before;
        if (prev[before] < n && next[before] < n) shortest.push({merged[before].end - merged[before].start, before});
    }
    Segments clean;
    for (std::size_t i = 0; i < n; ++i) {
        if (!gone[i]) clean.push_back(merged[i]);
    }
    if (removed != nullptr) {
        std::sort(removed->begin(), removed->end(), [](const Segment& x, const Segment& y) { return x.start < y.start; });
    }
    return clean;
}

// The level that holds longest between two times.
Level MajorityLevel(const Segments& segments, double from, double to) {
    std::array<double, 4> time{};
    auto it = std::upper_bound(segments.begin(), segments.end(), from,
                               [](double t, const Segment& s) { return t < s.start; });
    if (it != segments.begin()) --it;
    for (; it != segments.end() && it->start < to; ++it) {
        const double overlap = std::min(to, it->end) - std::max(from, it->start);
        if (overlap <= 0) continue;
        const int index = it->level == Level::Low ? 0 : it->level == Level::High ? 1 : it->level == Level::Unknown ? 2 : 3;
        time[static_cast<std::size_t>(index)] += overlap;
    }
    const auto most = std::max_element(time.begin(), time.end()) - time.begin();
    static constexpr Level kLevels[] = {Level::Low, Level::High, Level::Unknown, Level::Undriven};
    return kLevels[most];
}

bool Expected(const WritePlan& plan, int line, std::size_t step) {
    return (plan.patterns[step] & kLineBits[line]) != 0;
}

bool Agrees(Level observed, bool high) { return observed == (high ? Level::High : Level::Low); }

// Each line's level in each step, for one placing of the steps.
struct StepLevels {
    std::array<std::vector<Level>, kLineCount> level;
    std::vector<bool> captured;
    std::size_t capturedCount = 0;
};

// `starts` holds where each step starts and, last, where the last one ends.
StepLevels LevelsOfSteps(const std::array<Segments, kLineCount>& lines, double startPs, double endPs,
                         const std::vector<double>& starts) {
    StepLevels result;
    const std::size_t steps = starts.size() - 1;
    result.captured.assign(steps, false);
    for (auto& level : result.level) level.assign(steps, Level::Unknown);
    for (std::size_t s = 0; s < steps; ++s) {
        const double length = starts[s + 1] - starts[s];
        const double from = starts[s] + kStepMargin * length;
        const double to = starts[s + 1] - kStepMargin * length;
        if (from < startPs || to > endPs) continue;
        result.captured[s] = true;
        ++result.capturedCount;
        for (int line = 0; line < kLineCount; ++line) {
            result.level[static_cast<std::size_t>(line)][s] = MajorityLevel(lines[static_cast<std::size_t>(line)], from, to);
        }
    }
    return result;
}

std::vector<double> EvenStarts(double firstPs, double stepPs, std::size_t steps) {
    std::vector<double> starts;
    for (std::size_t s = 0; s <= steps; ++s) starts.push_back(firstPs + static_cast<double>(s) * stepPs);
    return starts;
}

// How a line's levels relate to the patterns, in the order preferred on a tie.
enum Reading { kFollows, kOtherLine, kInverted, kReadingCount };

std::array<std::size_t, kReadingCount> Agreements(const StepLevels& steps, const WritePlan& plan, int line) {
    std::array<std::size_t, kReadingCount> count{};
    const auto& levels = steps.level[static_cast<std::size_t>(line)];
    for (std::size_t s = 0; s < levels.size(); ++s) {
        if (!steps.captured[s]) continue;
        if (Agrees(levels[s], Expected(plan, line, s))) ++count[kFollows];
        if (Agrees(levels[s], Expected(plan, 1 - line, s))) ++count[kOtherLine];
        if (Agrees(levels[s], !Expected(plan, line, s))) ++count[kInverted];
    }
    return count;
}

// A placing is better the more steps it explains, by any reading of each
// line, and the fewer it contradicts.
long Score(const StepLevels& steps, const WritePlan& plan) {
    long score = 0;
    for (int line = 0; line < kLineCount; ++line) {
        const auto count = Agreements(steps, plan, line);
        std::size_t best = 0;
        int preference = 0;
        for (int r = 0; r < kReadingCount; ++r) {
            if (count[static_cast<std::size_t>(r)] > best) {
                best = count[static_cast<std::size_t>(r)];
                preference = kReadingCount - r;
            }
        }
        const long contradicted = static_cast<long>(steps.capturedCount) - static_cast<long>(best);
        score += 8 * (static_cast<long>(best) - contradicted) + preference;
    }
    return score;
}

std::vector<double> UnionEdges(const std::array<Segments, kLineCount>& lines) {
    std::vector<double> edges;
    for (const Segments& segments : lines) {
        for (std::size_t i = 1; i < segments.size(); ++i) edges.push_back(segments[i].start);
    }
    std::sort(edges.begin(), edges.end());
    return edges;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The step edges of the write phase, by step number, fitted to a straight
// line: where the first step starts and how long a step takes.
struct Boundary {
    std::size_t step;
    double timePs;
};

// An edge counts as a step's when it lies within this share of a step of
// where the edges before it put that step: a late step delays all after it
// (each sleep starts when the step before it ends), and the edges are
// followed across up to this much delay.
constexpr double kBoundaryWindow = 0.45;

std::vector<Boundary> Boundaries(const std::vector<double>& edges, double firstPs, double stepPs,
                                 std::size_t steps) {
    std::vector<Boundary> boundaries;
    double offset = 0;  // the delay the edges so far show against the placing
    for (double edge : edges) {
        const double position = (edge - firstPs - offset) / stepPs;
        const long step = std::lround(position);
        if (step < 1 || static_cast<std::size_t>(step) >= steps) continue;
        const double off = position - static_cast<double>(step);
        if (std::fabs(off) > (boundaries.empty() ? 0.2 : kBoundaryWindow)) continue;
        if (!boundaries.empty() && boundaries.back().step >= static_cast<std::size_t>(step)) continue;
        boundaries.push_back({static_cast<std::size_t>(step), edge});
        offset += off * stepPs;
    }
    return boundaries;
}

// Where each step starts, and the last ends: at its edge where one was
// seen, else on from the nearest step edge before it (or back from the one
// after it) at the step length found.
std::vector<double> StepStarts(const std::vector<Boundary>& boundaries, double firstPs, double stepPs,
                               std::size_t steps) {
    std::vector<double> starts = EvenStarts(firstPs, stepPs, steps);
    if (boundaries.empty()) return starts;
    std::size_t next = 0;
    for (std::size_t s = 0; s <= steps; ++s) {
        while (next < boundaries.size() && boundaries[next].step < s) ++next;
        if (next < boundaries.size() && boundaries[next].step == s) {
            starts[s] = boundaries[next].timePs;
        } else if (next > 0) {
            const Boundary& before = boundaries[next - 1];
            starts[s] = before.timePs + static_cast<double>(s - before.step) * stepPs;
        } else {
            const Boundary& after = boundaries[next];
            starts[s] = after.timePs - static_cast<double>(after.step - s) * stepPs;
        }
    }
    return starts;
}

void FitLine(const std::vector<Boundary>& boundaries, double& firstPs, double& stepPs) {
    if (boundaries.size() < 2) return;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = static_cast<double>(boundaries.size());
    // Relative to the first boundary, so the sums keep their precision.
    const double x0 = static_cast<double>(boundaries.front().step), y0 = boundaries.front().timePs;
    for (const Boundary& b : boundaries) {
        const double x = static_cast<double>(b.step) - x0, y = b.timePs - y0;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double denominator = n * sxx - sx * sx;
    if (denominator <= 0) return;
    stepPs = (n * sxy - sx * sy) / denominator;
    firstPs = y0 + (sy - stepPs * sx) / n - stepPs * x0;
}

std::string StepList(const std::vector<std::size_t>& steps) {
    std::string text;
    for (std::size_t i = 0; i < steps.size() && i < kShownSteps; ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(steps[i] + 1);
    }
    if (steps.size() > kShownSteps) text += ", ...";
    return text;
}

// "step 7" or "steps 1 to 41", numbered from 1.
std::string StepRange(std::size_t first, std::size_t last) {
    return first == last ? "step " + std::to_string(first) + " is"
                         : "steps " + std::to_string(first) + " to " + std::to_string(last) + " are";
}

class Analyser {
public:
    // Only what the capture holds from `startPs` to `untilPs`.
    Analyser(const Capture& capture, const WritePlan& plan, CaptureAnalysis& out, double startPs, double untilPs)
        : capture_(capture), plan_(plan), out_(out), startPs_(startPs), endPs_(std::min(untilPs, KnownUntil(capture))) {
        out_.endPs = endPs_;
        for (int line = 0; line < kLineCount; ++line) {
            raw_[static_cast<std::size_t>(line)] = ToSegments(LineOf(capture, line), startPs_, endPs_);
        }
    }

    void Run() {
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

private:
    // Finds where the steps are: the step length from the gaps between
    // edges, then the placing that explains the most steps.
    bool PlaceSteps() {
        const double nominal = static_cast<double>(plan_.stepPs);
        edges_ = UnionEdges(clean_);
        std::vector<double> gaps;
        for (std::size_t i = 1; i < edges_.size(); ++i) {
            const double gap = edges_[i] - edges_[i - 1];
            if (gap > 0.2 * nominal && gap < 5 * nominal) gaps.push_back(gap);
        }
        if (gaps.size() < 2) return false;
        // With one line stuck the other changes only every other step.
        const double typical = Median(gaps);
        double step = typical;
        for (int n = 2; n <= 4; ++n) {
            if (std::fabs(typical / n - nominal) < std::fabs(step - nominal)) step = typical / n;
        }
        // Gaps of one and of three steps in equal numbers (shorted lines)
        // put the median between them: each gap by its own count of steps.
        std::vector<double> perStep;
        for (double gap : gaps) {
            const double n = std::round(gap / step);
            if (n >= 1 && n <= 4 && std::fabs(gap / n - step) < 0.1 * step) perStep.push_back(gap / n);
        }
        if (!perStep.empty()) step = Median(perStep);
        const std::size_t count = plan_.patterns.size();
        long bestScore = 0;
        double bestFirst = 0;
        bool placed = false;
        std::vector<std::pair<double, long>> placings;
        const std::size_t anchors[] = {0, 1, edges_.size() - 1};
        for (std::size_t anchor : anchors) {
            if (anchor >= edges_.size()) continue;
            for (std::size_t k = 0; k <= count; ++k) {
                const double first = edges_[anchor] - static_cast<double>(k) * step;
                // The edges followed from there, across late steps.
                const std::vector<double> starts = StepStarts(Boundaries(edges_, first, step, count), first, step, count);
                const StepLevels levels = LevelsOfSteps(clean_, startPs_, endPs_, starts);
                if (levels.capturedCount == 0) continue;
                // Steps seen outside the phase are steps it fails to explain.
                const double slack = 0.25 * step;
                const double begin = starts.front(), end = starts.back();
                const long outside = static_cast<long>(
                    std::count_if(edges_.begin(), edges_.end(),
                                  [&](double e) { return e < begin - slack || e > end + slack; }));
                const long score = Score(levels, plan_) - 8 * outside - 24 * QuietBoundaries(starts, step);
                placings.emplace_back(first, score);
                if (!placed || score > bestScore) {
                    bestScore = score;
                    bestFirst = first;
                    placed = true;
                }
            }
        }
        // A capture that holds neither the phase's first steps nor its last
        // fits as well a whole cycle of patterns earlier or later.
        for (const auto& [first, score] : placings) {
            if (score >= bestScore && std::fabs(first - bestFirst) > 0.5 * step) {
                out_.stepsNumbered = false;
                out_.otherFirstStepPs = first;
                break;
            }
        }
        out_.firstStepPs = bestFirst;
        out_.stepPs = step;
        boundaries_ = Boundaries(edges_, bestFirst, step, count);
        FitLine(boundaries_, out_.firstStepPs, out_.stepPs);
        boundaries_ = Boundaries(edges_, out_.firstStepPs, out_.stepPs, count);
        return placed;
    }

    // Step boundaries a placing puts after the last edge, at which the
    // patterns change a line that changes elsewhere: steps the lines never
    // showed, a write phase laid over the quiet read phase after it, whose
    // levels may match the last steps' (inputs pulled high or low). Counted
    // a line at a time; a line that never changes (stuck) tells nothing.
    // Before the first edge the lines of a board shorted or stuck keep
    // their level over the first boundaries: a capture that holds the
    // phase's start but not its end may stay unnumbered.
    long QuietBoundaries(const std::vector<double>& starts, double step) const {
        long quiet = 0;
        const double lastEdge = edges_.back();
        for (std::size_t b = 1; b < plan_.patterns.size(); ++b) {
            const double at = starts[b];
            if (at > endPs_ - 0.5 * step || at < lastEdge + 0.5 * step) continue;
            for (int line = 0; line < kLineCount; ++line) {
                if (clean_[static_cast<std::size_t>(line)].size() > 1 &&
                    Expected(plan_, line, b - 1) != Expected(plan_, line, b)) {
                    ++quiet;
                }
            }
        }
        return quiet;
    }

    void NoWritePhase() {
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

    void Mark(int line, double from, double to, const std::string& text) {
        out_.marks.push_back({line, from, to, text});
    }

    // Where placed step `step` starts.
    double StepStart(std::size_t step) const {
        return step < starts_.size() ? starts_[step] : gridStartPs_ + static_cast<double>(step) * out_.stepPs;
    }

    // Where the board skipped steps: placed step s shows planned step
    // s + before up to `from`, s + after from there on.
    struct Skip {
        std::size_t from = SIZE_MAX;
        long before = 0;
        long after = 0;
    };

    std::vector<std::size_t> WrongSteps(int line, const Skip& skip) const {
        std::vector<std::size_t> wrong;
        const auto& levels = steps_.level[static_cast<std::size_t>(line)];
        for (std::size_t s = 0; s < levels.size(); ++s) {
            if (!steps_.captured[s]) continue;
            const long planned = static_cast<long>(s) + (s >= skip.from ? skip.after : skip.before);
            if (planned < 0 || planned >= static_cast<long>(plan_.patterns.size())) continue;
            if (!Agrees(levels[s], Expected(plan_, line, static_cast<std::size_t>(planned)))) wrong.push_back(s);
        }
        return wrong;
    }

    void JudgeLines() {
        CheckResult& result = out_.writePhase;
        const std::size_t count = plan_.patterns.size();
        std::size_t firstCaptured = count, lastCaptured = 0;
        for (std::size_t s = 0; s < count; ++s) {
            if (!steps_.captured[s]) continue;
            firstCaptured = std::min(firstCaptured, s);
            lastCaptured = s;
        }
        if (firstCaptured > 0) {
            result.Raise(Status::Incomplete);
            result.details.push_back("the capture starts after the write phase began (it would have begun at " +
                                     Seconds(out_.firstStepPs) + "): " + StepRange(1, firstCaptured) +
                                     " not in it");
        }
        if (lastCaptured + 1 < count) {
            result.Raise(Status::Incomplete);
            result.details.push_back("the capture ends before the write phase does: " +
                                     StepRange(lastCaptured + 2, count) + " not in it");
        }
        if (!out_.stepsNumbered) {
            result.Raise(Status::Incomplete);
            const long off = std::lround((out_.otherFirstStepPs - out_.firstStepPs) / out_.stepPs);
            result.details.push_back("the capture holds neither the first steps of the write phase nor its last: "
                                     "the steps seen fit as well " + std::to_string(std::labs(off)) +
                                     " steps " + (off < 0 ? "earlier" : "later") +
                                     ", so which steps they are is not known (numbered here by the first fit)");
        }
        if (FindShort()) return;
        FindMissingSteps();
        std::array<std::vector<std::size_t>, kLineCount> wrong;
        for (int line = 0; line < kLineCount; ++line) {
            wrong[static_cast<std::size_t>(line)] = WrongSteps(line, skip_);
        }
        const auto agree33 = Agreements(steps_, plan_, 0);
        const auto agree80 = Agreements(steps_, plan_, 1);
        const std::size_t n = steps_.capturedCount;
        if (!wrong[0].empty() && !wrong[1].empty() && agree33[kOtherLine] == n && agree80[kOtherLine] == n) {
            result.details.push_back("GPIO33 shows GPIO80's pattern and GPIO80 shows GPIO33's in every step");
            result.details.push_back("a capture cannot tell lines crossed on the board from the analyser's probes "
                                     "swapped: check which probe is on which pin; if they are right, the board "
                                     "has GPIO33 and GPIO80 crossed");
            out_.linesSwapped = true;
            for (int line = 0; line < kLineCount; ++line) {
                result.Note(line, Status::Fault, "swapped with the other line, or the probes are: carries " +
                                                     std::string(kLineNames[1 - line]) + "'s pattern");
                Mark(line, StepStart(0), out_.writeEndPs, "swapped");
            }
            result.summary = "the two lines are swapped (or the analyser's probes are)";
            return;
        }
        for (int line = 0; line < kLineCount; ++line) JudgeLine(line, wrong[static_cast<std::size_t>(line)]);
        if (result.summary.empty()) {
            std::string faults;
            for (const LineNote& note : result.lineNotes) {
                if (note.status != Status::Fault) continue;
                faults += (faults.empty() ? "" : "; ") + std::string(kLineNames[note.line]) + " " +
                          note.text.substr(0, note.text.find(':'));
            }
            result.summary = faults.empty() ? std::to_string(n) + " steps found, both lines follow the patterns"
                                            : faults;
            if (!out_.stepsNumbered) result.summary += "; which steps they are is not known";
        }
    }

    void JudgeLine(int line, const std::vector<std::size_t>& wrong) {
        CheckResult& result = out_.writePhase;
        const std::string name = kLineNames[line];
        const auto& levels = steps_.level[static_cast<std::size_t>(line)];
        const auto agree = Agreements(steps_, plan_, line);
        const std::size_t n = steps_.capturedCount;
        std::size_t low = 0, high = 0;
        for (std::size_t s = 0; s < levels.size(); ++s) {
            if (!steps_.captured[s]) continue;
            low += levels[s] == Level::Low;
            high += levels[s] == Level::High;
        }
        if (wrong.empty()) {
            result.Note(line, Status::Ok, "follows the patterns in all " + std::to_string(n) + " steps");
            return;
        }
        std::string text;
        bool wholeLine = true;  // one reading explains every step
        if (low == n) {
            text = "stuck low: low in all " + std::to_string(n) + " steps";
        } else if (high == n) {
            text = "stuck high: high in all " + std::to_string(n) + " steps";
        } else if (agree[kInverted] == n) {
            text = "inverted: the opposite level in all " + std::to_string(n) + " steps";
        } else if (agree[kOtherLine] == n) {
            text = std::string("carries ") + kLineNames[1 - line] + "'s pattern in all " + std::to_string(n) + " steps";
        } else {
            text = "wrong level in " + std::to_string(wrong.size()) + " of " + std::to_string(n) +
                   " steps: " + StepList(wrong);
            wholeLine = false;
        }
        result.Note(line, Status::Fault, text);
        result.details.push_back(name + " " + text);
        const std::string label = text.substr(0, text.find(':'));
        if (wholeLine) {
            Mark(line, StepStart(wrong.front()), StepStart(wrong.back() + 1), label);
            return;
        }
        for (std::size_t i = 0; i < wrong.size(); ++i) {
            // One mark for each run of wrong steps.
            std::size_t last = i;
            while (last + 1 < wrong.size() && wrong[last + 1] == wrong[last] + 1) ++last;
            Mark(line, StepStart(wrong[i]), StepStart(wrong[last] + 1), label);
            i = last;
        }
    }

    // Both lines at one level in every step, where the patterns differ.
    bool FindShort() {
        CheckResult& result = out_.writePhase;
        bool differ = false, changes = false;
        Level whereDiffer = Level::Low;
        bool oneLevel = true;
        for (std::size_t s = 0; s < plan_.patterns.size(); ++s) {
            if (!steps_.captured[s]) continue;
            if (steps_.level[0][s] != steps_.level[1][s]) return false;
            if (s > 0 && steps_.captured[s - 1] && steps_.level[0][s] != steps_.level[0][s - 1]) changes = true;
            if (Expected(plan_, 0, s) != Expected(plan_, 1, s)) {
                if (differ && steps_.level[0][s] != whereDiffer) oneLevel = false;
                whereDiffer = steps_.level[0][s];
                differ = true;
            }
        }
        if (!differ || !changes) return false;
        std::string how = oneLevel ? std::string("where the patterns differ both are ") + LevelWord(whereDiffer)
                                   : std::string("both show the same level in every step");
        result.summary = "the two lines are shorted together";
        result.details.push_back("GPIO33 and GPIO80 have one level in every step; " + how);
        for (int line = 0; line < kLineCount; ++line) {
            result.Note(line, Status::Fault, "shorted to " + std::string(kLineNames[1 - line]) + ": " + how);
            Mark(line, StepStart(0), out_.writeEndPs, "shorted");
        }
        return true;
    }

    // Steps the board never showed: from some step on, the levels are
    // those of a later step of the patterns. The steps may have been
    // placed by the part before the gap or by the part after it.
    void FindMissingSteps() {
        const std::size_t count = plan_.patterns.size();
        const auto wrongCount = [&](const Skip& skip) {
            std::size_t wrong = 0;
            for (int line = 0; line < kLineCount; ++line) wrong += WrongSteps(line, skip).size();
            return wrong;
        };
        const std::size_t plain = wrongCount(Skip{});
        if (plain < 4) return;
        // A line that is stuck, inverted or the other's is the simpler
        // reading: an inverted GPIO33 also looks like two steps skipped.
        bool everyLineRead = true;
        for (int line = 0; line < kLineCount; ++line) {
            const auto agree = Agreements(steps_, plan_, line);
            std::size_t low = 0, high = 0;
            for (std::size_t s = 0; s < count; ++s) {
                if (!steps_.captured[s]) continue;
                low += steps_.level[static_cast<std::size_t>(line)][s] == Level::Low;
                high += steps_.level[static_cast<std::size_t>(line)][s] == Level::High;
            }
            const std::size_t n = steps_.capturedCount;
            everyLineRead = everyLineRead && (low == n || high == n || agree[kFollows] == n ||
                                              agree[kInverted] == n || agree[kOtherLine] == n);
        }
        if (everyLineRead) return;
        std::size_t best = plain;
        Skip bestSkip;
        for (long missing = 1; missing <= static_cast<long>(kLargestMissingRun); ++missing) {
            for (std::size_t from = 1; from + 1 < count; ++from) {
                for (const Skip skip : {Skip{from, 0, missing}, Skip{from, -missing, 0}}) {
                    const std::size_t wrong = wrongCount(skip);
                    if (wrong < best) {
                        best = wrong;
                        bestSkip = skip;
                    }
                }
            }
        }
        if (best > 2 || best + 4 > plain) return;
        skip_ = bestSkip;
        const long missing = bestSkip.after - bestSkip.before;
        out_.missingSteps = static_cast<std::size_t>(missing);
        // The phase starts where planned step 0 is, and ends that many steps early.
        const double gapPs = StepStart(bestSkip.from);
        out_.firstStepPs -= static_cast<double>(bestSkip.before) * out_.stepPs;
        out_.writeEndPs = out_.firstStepPs + static_cast<double>(count - out_.missingSteps) * out_.stepPs;
        const long lastShown = static_cast<long>(bestSkip.from) + bestSkip.before;
        CheckResult& result = out_.writePhase;
        result.Raise(Status::Fault);
        const std::string text = std::to_string(missing) + " step(s) missing: after step " +
                                 std::to_string(lastShown) + " the lines go on with step " +
                                 std::to_string(lastShown + missing + 1) + " at " + Seconds(gapPs);
        result.summary = text;
        result.details.push_back(text + "; the write phase ends " + std::to_string(missing) +
                                 " step(s) early, at " + Seconds(out_.writeEndPs));
        for (int line = 0; line < kLineCount; ++line) {
            Mark(line, gapPs - 0.05 * out_.stepPs, gapPs + 0.05 * out_.stepPs, "steps missing");
        }
    }

    void MeasurePeriod() {
        CheckResult& result = out_.period;
        // Each stretch between two step edges: its steps and their length.
        struct Stretch {
            std::size_t firstStep;  // 0-based
            std::size_t steps;
            double perStepPs;
        };
        std::vector<Stretch> stretches;
        std::vector<double> perStep;
        for (std::size_t i = 1; i < boundaries_.size(); ++i) {
            const Boundary& a = boundaries_[i - 1];
            const Boundary& b = boundaries_[i];
            const std::size_t steps = b.step - a.step;
            stretches.push_back({a.step, steps, (b.timePs - a.timePs) / static_cast<double>(steps)});
            perStep.push_back(stretches.back().perStepPs);
        }
        const double nominal = static_cast<double>(plan_.stepPs);
        char tolerance[64];
        std::snprintf(tolerance, sizeof tolerance, "%s +/- %.0f %%", Milliseconds(nominal).c_str(),
                      kPeriodTolerance * 100);
        if (perStep.empty()) {
            result.Raise(Status::Incomplete);
            result.summary = "not measured: fewer than two step edges";
            return;
        }
        const double median = Median(perStep);
        const double least = *std::min_element(perStep.begin(), perStep.end());
        const double greatest = *std::max_element(perStep.begin(), perStep.end());
        out_.leastStepPs = least;
        out_.greatestStepPs = greatest;
        result.summary = "median " + Milliseconds(median) + " (least " + Milliseconds(least) + ", greatest " +
                         Milliseconds(greatest) + ") from " + std::to_string(boundaries_.size()) +
                         " step edges, against " + tolerance;
        const double allowed = kPeriodTolerance * nominal;
        if (std::fabs(median - nominal) > allowed) {
            result.Raise(Status::Fault);
            char text[160];
            std::snprintf(text, sizeof text,
                          "the steps take %.1f %% %s than the program asks: the board's clock or timer runs %s",
                          std::fabs(median - nominal) / nominal * 100, median > nominal ? "longer" : "less",
                          median > nominal ? "slow" : "fast");
            result.details.push_back(text);
            return;
        }
        // The median is right. A sleep never ends early, so a short step is
        // the timer's; a long one may be the scheduler's: the thread ready
        // again but held off the processor (see kLatestStepPs).
        std::vector<std::size_t> early, late;
        double latest = 0;
        for (std::size_t i = 0; i < stretches.size(); ++i) {
            if (stretches[i].perStepPs < nominal - allowed) early.push_back(i);
            if (stretches[i].perStepPs > nominal + allowed) {
                late.push_back(i);
                latest = std::max(latest, (stretches[i].perStepPs - median) * static_cast<double>(stretches[i].steps));
            }
        }
        const auto stepsOf = [&](const std::vector<std::size_t>& which) {
            std::string text;
            for (std::size_t i = 0; i < which.size(); ++i) {
                const Stretch& stretch = stretches[which[i]];
                if (i == kShownSteps) {
                    text += ", ...";
                    break;
                }
                const double length = stretch.perStepPs * static_cast<double>(stretch.steps);
                text += std::string(i > 0 ? ", " : "") + "step " + std::to_string(stretch.firstStep + 1) +
                        (stretch.steps > 1 ? " to " + std::to_string(stretch.firstStep + stretch.steps) : "") +
                        " (" + Milliseconds(length) + ")";
            }
            return text;
        };
        for (std::size_t i : late) {
            const Stretch& stretch = stretches[i];
            for (int line = 0; line < kLineCount; ++line) {
                Mark(line, StepStart(stretch.firstStep),
                     StepStart(stretch.firstStep) + stretch.perStepPs * static_cast<double>(stretch.steps),
                     "late step " + std::to_string(stretch.firstStep + 1));
            }
        }
        if (!early.empty()) {
            result.Raise(Status::Fault);
            result.details.push_back(std::to_string(early.size()) + " step(s) shorter than " + tolerance +
                                     ", which a sleep never is: the board's timer ends them early: " +
                                     stepsOf(early));
        }
        if (late.empty()) return;
        const bool few = late.size() <= static_cast<std::size_t>(kMostLateShare * static_cast<double>(stretches.size()));
        const std::string lateText = std::to_string(late.size()) + " step(s) late: " + stepsOf(late);
        result.summary += "; " + lateText;
        if (latest > kLatestStepPs) {
            result.Raise(Status::Fault);
            result.details.push_back(lateText + "; the median is right, but a step is " + Milliseconds(latest) +
                                     " late, more than a loaded scheduler holds the program's thread back: the "
                                     "step timing is uneven (a timer that stalls, or a thread that keeps the "
                                     "processor)");
        } else if (few) {
            result.Raise(Status::Info);
            result.details.push_back(lateText + "; the median is right and each is at most " +
                                     Milliseconds(kLatestStepPs) + " late, in few steps: the program's thread held "
                                     "off the processor after its sleep, as a loaded Windows CE scheduler does, "
                                     "not a fault of the lines or the clock");
        } else {
            // A board this loaded and a timer that stalls now and then look
            // alike: neither passed nor called faulty.
            result.Raise(Status::NotSeen);
            result.details.push_back(lateText + "; the median is right and none is more than " +
                                     Milliseconds(kLatestStepPs) + " late, but " + std::to_string(late.size()) +
                                     " of " + std::to_string(stretches.size()) +
                                     " steps are: a board this loaded cannot show whether its timer stalls; run "
                                     "again with the board otherwise idle");
        }
    }

    // The last step ends where the lines are made inputs: the first edge
    // near the end the steps predict. A board's steps each last a little
    // more than asked (the timer tick, the debug port), so the fitted steps
    // miss it by a millisecond or so. Where neither line changes there, the
    // step lengths measured bound it.
    void FindWriteEnd() {
        const double predicted = out_.writeEndPs;
        const double window = 0.1 * out_.stepPs;
        // The edge nearest the prediction: a glitch late in the last step is not it.
        double edge = endPs_;
        for (const Segments& segments : raw_) {
            auto it = std::lower_bound(segments.begin(), segments.end(), predicted - window,
                                       [](const Segment& s, double t) { return s.start < t; });
            for (; it != segments.end() && it->start <= predicted + window; ++it) {
                if (it == segments.begin()) continue;
                if (std::fabs(it->start - predicted) < std::fabs(edge - predicted)) edge = it->start;
            }
        }
        if (edge < endPs_) {
            out_.writeEndPs = out_.writeEndEarliestPs = out_.writeEndLatestPs = edge;
            out_.writeEndSeen = true;
            return;
        }
        double earliest = predicted - kPeriodTolerance * out_.stepPs;
        double latest = predicted + kPeriodTolerance * out_.stepPs;
        if (!boundaries_.empty()) {
            const Boundary& last = boundaries_.back();
            // Placed steps from the last edge to the end, a skip of steps counted in.
            const double steps = static_cast<double>(plan_.patterns.size()) - static_cast<double>(out_.missingSteps) -
                                 static_cast<double>(skip_.before) - static_cast<double>(last.step);
            if (steps >= 0 && out_.leastStepPs > 0) {
                earliest = last.timePs + steps * out_.leastStepPs;
                latest = last.timePs + steps * out_.greatestStepPs;
            }
        }
        out_.writeEndEarliestPs = std::min(earliest, predicted);
        out_.writeEndLatestPs = std::max(latest, predicted);
    }

    void FindGlitches() {
        CheckResult& result = out_.glitches;
        const double shortest = kGlitchFraction * static_cast<double>(plan_.stepPs);
        const double from = std::max(startPs_, out_.firstStepPs), to = out_.writeEndPs;
        std::size_t total = 0;
        for (int line = 0; line < kLineCount; ++line) {
            std::vector<double> times;
            for (const Segment& s : pulses_[static_cast<std::size_t>(line)]) {
                if (s.start < from || s.end > to) continue;
                times.push_back(s.start);
                Mark(line, s.start - 0.02 * out_.stepPs, s.end + 0.02 * out_.stepPs, "glitch");
            }
            if (times.empty()) continue;
            total += times.size();
            const std::string text = std::to_string(times.size()) + " glitch(es) shorter than " +
                                     Milliseconds(shortest) + ", the first at " + Seconds(times.front());
            result.Note(line, Status::Fault, text);
            result.details.push_back(std::string(kLineNames[line]) + ": " + text);
        }
        result.summary = total == 0 ? "no pulse shorter than " + Milliseconds(shortest) + " in the write phase"
                                    : std::to_string(total) + " pulse(s) far shorter than a step";
    }

    void DescribeReadPhase() {
        CheckResult& result = out_.readPhase;
        const double start = out_.writeEndPs;
        const double length = static_cast<double>(plan_.sampleStepPs * plan_.samples);
        if (start >= endPs_) {
            result.Raise(Status::Incomplete);
            result.summary = "not captured: the capture ends before it";
            return;
        }
        result.Raise(Status::Info);
        // A board whose samples come late has a longer read phase: all of
        // the capture after the write phase is its.
        const double captured = endPs_ - start;
        if (captured < length * 0.99) {
            result.Raise(Status::Incomplete);
            result.details.push_back("the capture ends " + Seconds(captured) + " into the read phase");
        }
        std::string summary;
        for (int line = 0; line < kLineCount; ++line) {
            const Segments& segments = raw_[static_cast<std::size_t>(line)];
            std::string text;
            std::size_t changes = 0;
            Level first = LevelAt(LineOf(capture_, line), start + 0.001 * kPsPerMs);
            for (const Segment& s : segments) {
                if (s.start <= start + 0.001 * kPsPerMs || s.start >= start + captured) continue;
                if (changes < kShownSteps) {
                    text += std::string(changes == 0 ? "" : ", ") + LevelWord(s.level) + " from " +
                            Seconds(s.start - start);
                }
                ++changes;
            }
            if (changes == 0) {
                text = std::string(LevelWord(first)) + " throughout";
            } else {
                text = std::string(LevelWord(first)) + " at first, then " + text + (changes > kShownSteps ? ", ..." : "") +
                       " (" + std::to_string(changes) + " change(s))";
            }
            result.Note(line, Status::Info, "pin " + text + " in the read phase");
            result.details.push_back(std::string(kLineNames[line]) + " " + text + " (times from the phase's start)");
            summary += (summary.empty() ? "" : "; ") + std::string(kLineNames[line]) + " " +
                       (changes == 0 ? LevelWord(first) : "changing");
        }
        result.summary = Seconds(captured) + " captured: " + summary;
    }

    const Capture& capture_;
    const WritePlan& plan_;
    CaptureAnalysis& out_;
    double startPs_;
    double endPs_;
    std::array<Segments, kLineCount> raw_;
    std::array<Segments, kLineCount> clean_;
    std::vector<double> edges_;
    std::vector<Boundary> boundaries_;
    StepLevels steps_;
    Skip skip_;
    double gridStartPs_ = 0;
    std::vector<double> starts_;
    std::array<Segments, kLineCount> pulses_;  // folded out of clean_
};

}  // namespace

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
