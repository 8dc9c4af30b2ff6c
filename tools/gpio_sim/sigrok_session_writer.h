#ifndef TOOLS_GPIO_SIM_SIGROK_SESSION_WRITER_H
#define TOOLS_GPIO_SIM_SIGROK_SESSION_WRITER_H

// The recorded lines as a sigrok session (.sr), PulseView's own format,
// written by libsigrok's srzip output: 1 MHz, the channels GPIO33,
// GPIO33_output, GPIO80 and GPIO80_output as in the VCD. A level a logic
// channel cannot hold (z undriven, x driven both ways) is 0, as sigrok
// reads the VCD's.
// Built without libsigrok's C++ bindings, the simulator says so instead.

#include <string>

#include "line_recording.h"

namespace gpio_sim {

constexpr unsigned long kSessionSampleRateHz = 1000000;  // the recording's 1 us

// Whether this build can write sessions; `why` says what to do if not.
bool CanWriteSigrokSessions(std::string& why);

// The whole session file in `content`, or false and why.
bool RenderSigrokSession(const gpio_bench::LineRecording& recording, std::string& content, std::string& error);

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_SIGROK_SESSION_WRITER_H
