#ifndef TOOLS_GPIO_CHECK_CHECK_DIAGRAM_H
#define TOOLS_GPIO_CHECK_CHECK_DIAGRAM_H

// The expected and the captured waveforms one above the other, on the
// simulated run's time axis with the capture aligned on the first step,
// and the faults found marked on the captured lines. What the capture does
// not hold (before it starts, after it ends) is drawn as not captured. The
// title is the verdict, so that a picture says it without the report.

#include <string>
#include <vector>

#include "capture.h"
#include "capture_analysis.h"

namespace gpio_check {

std::string RenderCheckDiagram(const Capture& capture, const CaptureAnalysis& analysis,
                               const std::vector<FaultMark>& marks, const std::string& subtitle,
                               const std::string& verdict = "");

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CHECK_DIAGRAM_H
