#ifndef TOOLS_GPIO_CHECK_CROSS_CHECK_H
#define TOOLS_GPIO_CHECK_CROSS_CHECK_H

// The trace's samples against the captured pins. The trace says what each
// sample read but not when: on a board each sample comes 10 ms plus a timer
// tick plus its printing after the one before. So a sample is held against
// every time it can have been read: one after another, from the edge where
// the lines are made inputs, each at least the asked 10 ms and at most
// three times that after the one before. A line reads other than its pin
// only when no such timing explains its samples.

#include <vector>

#include "capture_analysis.h"
#include "trace_check.h"

namespace gpio_check {

// A board's samples come at most this many times the asked period apart.
constexpr double kSlowestSampleFactor = 3;

struct CrossCheck {
    CheckResult result{"trace against capture"};
    std::vector<FaultMark> marks;
    // The sample period that puts every sample where the trace's changes
    // meet the pins' edges: from low to high, 0 when the changes do not
    // narrow it down.
    double samplePeriodLowPs = 0;
    double samplePeriodHighPs = 0;
    // The period found, when the changes narrow it down; 0 otherwise.
    double samplePeriodPs = 0;
};

// A check that held fewer than this share of a line's samples against a
// level of its pin (the rest x or z) passes nothing: the pin was not seen.
constexpr double kLeastComparedShare = 0.5;

CrossCheck CheckTraceAgainstCapture(const TraceCheck& trace, const Capture& capture,
                                    const CaptureAnalysis& analysis, const WritePlan& plan);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CROSS_CHECK_H
