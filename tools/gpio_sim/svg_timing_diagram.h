#ifndef TOOLS_GPIO_SIM_SVG_TIMING_DIAGRAM_H
#define TOOLS_GPIO_SIM_SVG_TIMING_DIAGRAM_H

// The recorded lines as an SVG timing diagram: each line's level over the
// whole run, coloured by who drives it, on a time axis with the write and
// read phases marked.

#include <string>

#include "line_recording.h"

namespace gpio_sim {

// `subtitle` says how the run was set up (schedule, clock).
std::string RenderTimingDiagram(const LineRecording& recording, const std::string& subtitle);

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_SVG_TIMING_DIAGRAM_H
