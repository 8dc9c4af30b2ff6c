#ifndef TOOLS_GPIO_SIM_VCD_WRITER_H
#define TOOLS_GPIO_SIM_VCD_WRITER_H

// The recorded lines as a Value Change Dump (IEEE 1364), 1 us a tick: for
// each line its level (0, 1; z undriven, x driven both ways) and whether the
// processor drives it.

#include <string>

#include "line_recording.h"

namespace gpio_sim {

// `comment` goes into the header, e.g. the schedule of the run.
std::string RenderVcd(const gpio_bench::LineRecording& recording, const std::string& comment);

// The level a probe shows: what the model reads, except that nothing
// driving the line is z and two sources fighting over it is x.
char VcdLevel(const gpio_bench::PinState& state);

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_VCD_WRITER_H
