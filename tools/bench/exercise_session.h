#ifndef TOOLS_BENCH_EXERCISE_SESSION_H
#define TOOLS_BENCH_EXERCISE_SESSION_H

// One run of the unchanged exercise routine on the simulated board, with the
// schedule applied and the lines and bus recorded.

#include <cstdint>
#include <string>
#include <vector>

#include "board_fault_option.h"
#include "board_timing_option.h"
#include "drive_schedule.h"
#include "line_recording.h"
#include "pxa_gpio_model.h"

namespace gpio_bench {

// The board's clock: the host's own time, or the simulated board's virtual
// clock, which runs the whole 66 s run at once.
enum class ClockKind { Real, Simulated };

struct SessionResult {
    int exitCode = 0;       // the routine's result
    std::string processReport;  // with an .exe: what the CE process itself reported
    std::string trace;      // empty unless captured
    std::vector<host::PxaGpioModel::Access> accesses;
    LineRecording recording;
};

// With `captureTrace` false the trace goes to standard output as it is printed.
// With `executable` the device's .exe runs in place of the host-built program,
// on a PXA270 core or with `pxa255Core` a PXA255.
SessionResult RunExerciseSession(ClockKind clock, const std::vector<ScheduledDrive>& schedule,
                                 bool captureTrace, const BoardFaults& faults = {},
                                 const BoardTiming& timing = {},
                                 const std::vector<std::uint8_t>* executable = nullptr, bool pxa255Core = false);

// How long the run lasts on a board whose clock is `slowClock` slow and
// with `timing`, as the simulated clock gives it (the lines, their wiring
// and drives change no message's length): kRunLengthUs by default.
std::uint64_t RunLengthUs(double slowClock, const BoardTiming& timing);

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_EXERCISE_SESSION_H
