// How long the steps take against the program's, which are early or late
// (and whether a loaded scheduler explains them), and where the write
// phase ends.

#include "capture_analyser.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace gpio_check {
namespace analysis {

void Analyser::MeasurePeriod() {
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
void Analyser::FindWriteEnd() {
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

}  // namespace analysis
}  // namespace gpio_check
