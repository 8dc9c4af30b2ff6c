#ifndef TOOLS_BENCH_SVG_TIMING_DIAGRAM_H
#define TOOLS_BENCH_SVG_TIMING_DIAGRAM_H

// The recorded lines as an SVG timing diagram: each line's level over the
// whole run, coloured by who drives it, on a time axis with the write and
// read phases marked.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "line_recording.h"

namespace gpio_bench {

// The subtitle says how the run was set up: the `drives` from outside, each
// as "GPIO33 high from 62.5 s", and the `clock`; the title names the board's
// `faults`, each as "GPIO80 stuck low", as the VCD's comment does. Each
// names a few and counts the rest, so it fits the picture whatever the
// run; the whole lists are in a comment at the top of the file.
std::string RenderTimingDiagram(const LineRecording& recording, const std::vector<std::string>& drives,
                                const std::string& clock, const std::vector<std::string>& faults = {});

// A stretch of one row drawn as wrong, with a word on what is wrong.
struct DiagramMark {
    std::size_t row;
    std::uint64_t fromUs;
    std::uint64_t toUs;
    std::string label;
};

// Any number of rows one above the other on one time axis, each with a
// caption under its name (e.g. "expected", "captured"), and marks.
struct TimingDiagram {
    std::string title;
    std::string subtitle;
    std::string comment;  // an XML comment for whoever opens the file, or empty
    std::vector<LineTrack> rows;
    std::vector<std::string> captions;  // one per row, or none
    std::vector<DiagramMark> marks;
    // Stretches of a row with nothing to show (e.g. before a capture
    // started): drawn blank, framed and named, whatever the row's track says.
    std::vector<DiagramMark> gaps;
    RunPhases phases;
    std::uint64_t endUs = 0;
};
std::string RenderTimingDiagram(const TimingDiagram& diagram);

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_SVG_TIMING_DIAGRAM_H
