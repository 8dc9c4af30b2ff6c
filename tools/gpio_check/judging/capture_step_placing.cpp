// Where the write phase's steps are in a capture: the step length from the
// gaps between edges, each placing scored by the steps it explains, the
// edges followed across late steps and fitted to a straight line.

#include "capture_analyser.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "trace_check.h"

namespace gpio_check {
namespace analysis {

bool Expected(const WritePlan& plan, int line, std::size_t step) {
    return (plan.patterns[step] & kLineBits[line]) != 0;
}

bool Agrees(Level observed, bool high) { return observed == (high ? Level::High : Level::Low); }

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

// Finds where the steps are: the step length from the gaps between
// edges, then the placing that explains the most steps.
bool Analyser::PlaceSteps() {
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
long Analyser::QuietBoundaries(const std::vector<double>& starts, double step) const {
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

}  // namespace analysis
}  // namespace gpio_check
