#ifndef TOOLS_GPIO_SIM_SVG_TIMING_DIAGRAM_H
#define TOOLS_GPIO_SIM_SVG_TIMING_DIAGRAM_H

// The recorded lines as an SVG timing diagram: each line's level over the
// whole run, coloured by who drives it, on a time axis with the write and
// read phases marked.

#include <string>
#include <vector>

#include "line_recording.h"

namespace gpio_sim {

// The subtitle says how the run was set up: the `drives` from outside, each
// as "GPIO33 high from 62.5 s", and the `clock`. It names a few drives and
// counts the rest, so it fits the picture whatever the schedule; the whole
// list is in a comment at the top of the file.
std::string RenderTimingDiagram(const LineRecording& recording, const std::vector<std::string>& drives,
                                const std::string& clock);

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_SVG_TIMING_DIAGRAM_H
