#include "line_recording.h"

namespace gpio_bench {

void LineRecording::Start(const host::PxaGpioModel& gpio) {
    tracks_.clear();
    for (const auto& line : kExerciseLines) {
        tracks_.push_back({line.name, line.gpio, {{0, gpio.Pin(line.gpio)}}});
    }
    endUs_ = 0;
}

void LineRecording::OnPinChange(unsigned gpio, const PinState& state, std::uint64_t timeUs) {
    for (auto& track : tracks_) {
        if (track.gpio != gpio) continue;
        if (!track.changes.empty() && track.changes.back().timeUs == timeUs) {
            track.changes.pop_back();
        }
        // A change undone within the same instant is no change.
        if (track.changes.empty() || track.changes.back().state != state) {
            track.changes.push_back({timeUs, state});
        }
    }
}

PinState LineRecording::StateAt(std::size_t track, std::uint64_t timeUs) const {
    PinState state{false, false, false, false};
    for (const auto& change : tracks_.at(track).changes) {
        if (change.timeUs > timeUs) break;
        state = change.state;
    }
    return state;
}

RunPhases FindPhases(const LineRecording& recording) {
    RunPhases phases;
    bool anyOutput = false;
    for (const auto& track : recording.Tracks()) {
        bool wasOutput = false;
        for (const auto& change : track.changes) {
            if (change.state.output && !wasOutput) {
                if (!anyOutput || change.timeUs < phases.writeStartUs) phases.writeStartUs = change.timeUs;
                anyOutput = true;
            }
            if (!change.state.output && wasOutput && change.timeUs > phases.readStartUs) {
                phases.readStartUs = change.timeUs;
                phases.found = true;
            }
            wasOutput = change.state.output;
        }
    }
    phases.found = phases.found && anyOutput;
    return phases;
}

std::vector<Contention> FindContention(const LineRecording& recording) {
    std::vector<Contention> found;
    for (const auto& track : recording.Tracks()) {
        Contention contention{track.name, 0, 0};
        bool was = false;
        for (const auto& change : track.changes) {
            if (change.state.contention && !was) {
                if (contention.times == 0) contention.firstUs = change.timeUs;
                ++contention.times;
            }
            was = change.state.contention;
        }
        if (contention.times > 0) found.push_back(contention);
    }
    return found;
}

}  // namespace gpio_bench
