#ifndef TOOLS_GPIO_CHECK_CROSS_CHECK_H
#define TOOLS_GPIO_CHECK_CROSS_CHECK_H

// The trace's samples against the captured pins: aligned on the end of the
// write phase, each sample's reported level is held against the level the
// analyser saw at its time. A line whose input path reads other than its
// pin shows here, and nowhere else.

#include <vector>

#include "capture_analysis.h"
#include "trace_check.h"

namespace gpio_check {

struct CrossCheck {
    CheckResult result{"trace against capture"};
    std::vector<FaultMark> marks;
};

// A sample's time is known to within 1 ms, plus whatever the measured step
// period says each step adds; only samples whose pin holds one level for
// all of that time are compared.
CrossCheck CheckTraceAgainstCapture(const TraceCheck& trace, const Capture& capture,
                                    const CaptureAnalysis& analysis, const WritePlan& plan);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CROSS_CHECK_H
