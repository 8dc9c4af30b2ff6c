#ifndef TOOLS_BENCH_LINE_RECORDING_H
#define TOOLS_BENCH_LINE_RECORDING_H

// GPIO33 and GPIO80 over a run: each line's state from the start, and every
// change with the board time it happened at.

#include <cstdint>
#include <vector>

#include "drive_schedule.h"
#include "pxa_gpio_model.h"

namespace gpio_bench {

using PinState = host::PxaGpioModel::PinState;

struct LineChange {
    std::uint64_t timeUs;
    PinState state;
};

struct LineTrack {
    const char* name;
    unsigned gpio;
    std::vector<LineChange> changes;  // the first is the state at time 0
};

class LineRecording {
public:
    // Takes the lines' state at time 0.
    void Start(const host::PxaGpioModel& gpio);
    // Keeps the changes to the exercise's lines. Changes at one time keep
    // only the last: a viewer shows one level per instant.
    void OnPinChange(unsigned gpio, const PinState& state, std::uint64_t timeUs);
    void Finish(std::uint64_t endUs) { endUs_ = endUs; }

    const std::vector<LineTrack>& Tracks() const { return tracks_; }
    std::uint64_t EndUs() const { return endUs_; }
    // The state of a line at a time: the last change at or before it.
    PinState StateAt(std::size_t track, std::uint64_t timeUs) const;

private:
    std::vector<LineTrack> tracks_;
    std::uint64_t endUs_ = 0;
};

// Where the lines were outputs (the write phase) and where they were turned
// back into inputs (the read phase), as the recording shows it.
struct RunPhases {
    bool found = false;
    std::uint64_t writeStartUs = 0;
    std::uint64_t readStartUs = 0;
};
RunPhases FindPhases(const LineRecording& recording);

// A stretch in which the processor and the outside drove a line against each other.
struct Contention {
    const char* line;
    std::uint64_t firstUs;
    unsigned times;
};
std::vector<Contention> FindContention(const LineRecording& recording);

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_LINE_RECORDING_H
