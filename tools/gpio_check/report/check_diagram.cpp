#include "check_diagram.h"

#include <algorithm>
#include <cmath>

#include "exercise_session.h"
#include "svg_timing_diagram.h"

namespace gpio_check {
namespace {

constexpr double kPsPerUs = 1e6;

// The captured line as a track: a definite level inside the write phase
// is the processor's output, outside it the outside world's; x is two
// drivers at once, z nobody.
gpio_bench::LineTrack CapturedTrack(const CapturedLine& line, const char* name, unsigned gpio,
                                  const CaptureAnalysis& analysis, double offsetUs) {
    const auto toUs = [&](double ps) {
        return static_cast<std::uint64_t>(std::max(0.0, std::llround(ps / kPsPerUs) + offsetUs));
    };
    const auto state = [&](Level level, double ps) {
        const bool writing = analysis.writePhaseFound && ps >= analysis.firstStepPs && ps < analysis.writeEndPs;
        gpio_bench::PinState pin{writing, level == Level::High, !writing, level == Level::Unknown};
        if (level == Level::Undriven) pin = {false, false, false, false};
        return pin;
    };
    gpio_bench::LineTrack track{name, gpio, {}};
    const auto add = [&](double ps, Level level) {
        const std::uint64_t us = toUs(ps);
        const gpio_bench::PinState pin = state(level, ps);
        if (!track.changes.empty() && track.changes.back().timeUs == us) track.changes.pop_back();
        if (track.changes.empty() || track.changes.back().state != pin) track.changes.push_back({us, pin});
    };
    // The style changes where the write phase starts and ends, levels or not.
    std::vector<double> boundaries;
    if (analysis.writePhaseFound) boundaries = {analysis.firstStepPs, analysis.writeEndPs};
    std::size_t next = 0;
    for (const LevelChange& change : line.changes) {
        const double ps = static_cast<double>(change.timePs);
        while (next < boundaries.size() && boundaries[next] <= ps) {
            if (!track.changes.empty() && boundaries[next] >= 0) add(boundaries[next], LevelAt(line, boundaries[next]));
            ++next;
        }
        add(ps, change.level);
    }
    for (; next < boundaries.size(); ++next) {
        if (!track.changes.empty() && boundaries[next] >= 0) add(boundaries[next], LevelAt(line, boundaries[next]));
    }
    if (track.changes.empty()) track.changes.push_back({0, {false, false, false, false}});
    track.changes.front().timeUs = 0;
    return track;
}

}  // namespace

std::string RenderCheckDiagram(const Capture& capture, const CaptureAnalysis& analysis,
                               const std::vector<FaultMark>& marks, const std::string& subtitle,
                               const std::string& verdict) {
    const gpio_bench::SessionResult expected =
        gpio_bench::RunExerciseSession(gpio_bench::ClockKind::Simulated, {}, true);
    const gpio_bench::RunPhases phases = gpio_bench::FindPhases(expected.recording);
    // Capture time to diagram time: the first step where the simulated one is.
    const double offsetUs = analysis.writePhaseFound
                                ? static_cast<double>(phases.writeStartUs) - analysis.firstStepPs / kPsPerUs
                                : 0;

    gpio_bench::TimingDiagram diagram;
    diagram.title = verdict.empty() ? "GPIO33 and GPIO80: the exercise as expected, and as captured on the board"
                                    : verdict;
    diagram.subtitle = verdict.empty() ? subtitle : "GPIO33 and GPIO80 as expected, and as " + subtitle;
    diagram.rows = expected.recording.Tracks();
    diagram.captions = {"expected", "expected", "captured", "captured"};
    diagram.rows.push_back(CapturedTrack(capture.gpio33, "GPIO33", 33, analysis, offsetUs));
    diagram.rows.push_back(CapturedTrack(capture.gpio80, "GPIO80", 80, analysis, offsetUs));
    diagram.phases = phases;
    const double capturedEndUs = static_cast<double>(capture.endPs) / kPsPerUs + offsetUs;
    diagram.endUs = std::max<std::uint64_t>(expected.recording.EndUs(),
                                            static_cast<std::uint64_t>(std::max(0.0, capturedEndUs)));
    // The captured rows hold nothing before the capture starts or after it ends.
    const std::uint64_t capturedFromUs = static_cast<std::uint64_t>(std::max(0.0, offsetUs));
    const std::uint64_t capturedToUs = static_cast<std::uint64_t>(std::max(0.0, capturedEndUs));
    for (std::size_t row : {std::size_t{2}, std::size_t{3}}) {
        if (capturedFromUs > 0) {
            diagram.gaps.push_back({row, 0, std::min(capturedFromUs, diagram.endUs), "not captured"});
        }
        if (capturedToUs < diagram.endUs) diagram.gaps.push_back({row, capturedToUs, diagram.endUs, "not captured"});
    }
    for (const FaultMark& mark : marks) {
        const double from = std::max(0.0, mark.startPs / kPsPerUs + offsetUs);
        const double to = std::max(from, mark.endPs / kPsPerUs + offsetUs);
        diagram.marks.push_back({2 + static_cast<std::size_t>(mark.line), static_cast<std::uint64_t>(from),
                                 static_cast<std::uint64_t>(to), mark.text});
    }
    return gpio_bench::RenderTimingDiagram(diagram);
}

}  // namespace gpio_check
