#ifndef TOOLS_GPIO_CHECK_JUDGING_CAPTURE_ANALYSER_H
#define TOOLS_GPIO_CHECK_JUDGING_CAPTURE_ANALYSER_H

// The capture analysis from the inside, for its phases in their own files:
// the lines as stretches of one level (capture_segments.cpp), placing the
// steps (capture_step_placing.cpp), each line's level in each step
// (capture_step_levels.cpp), the step period and the write phase's end
// (capture_step_timing.cpp), glitches (capture_glitches.cpp) and the read
// phase (capture_read_phase.cpp). One analyser holds what they find for
// the phases after them; capture_analysis.cpp runs them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture_analysis.h"

namespace gpio_check {
namespace analysis {

constexpr double kPsPerSecond = 1e12;
constexpr double kPsPerMs = 1e9;
// The middle of a step, where its level is taken: clear of edges that come
// early or late.
constexpr double kStepMargin = 0.1;
constexpr std::size_t kShownSteps = 4;
constexpr std::size_t kLargestMissingRun = 3;
constexpr std::size_t kMostRunsLookedFor = 16;

struct Segment {
    double start;
    double end;
    Level level;
};
using Segments = std::vector<Segment>;

std::string Seconds(double ps);
std::string Milliseconds(double ps);
const char* LevelWord(Level level);

// A line busier than any run is kept only up to its last kept change: the
// capture holds both lines only that far.
double KnownUntil(const Capture& capture);

// From `startPs` on: a later run is placed in the capture after an earlier one.
Segments ToSegments(const CapturedLine& line, double startPs, double endPs);

// Pulses shorter than `shortestPs` folded into the level around them, the
// shortest first: a pulse soon after a step's edge leaves the edge where
// it is, rather than taking the stretch between them for a pulse too.
// `removed` gets each pulse folded in.
Segments WithoutGlitches(const Segments& segments, double shortestPs, Segments* removed = nullptr);

// The level that holds longest between two times.
Level MajorityLevel(const Segments& segments, double from, double to);

std::vector<double> UnionEdges(const std::array<Segments, kLineCount>& lines);
double Median(std::vector<double> values);

bool Expected(const WritePlan& plan, int line, std::size_t step);
bool Agrees(Level observed, bool high);

// Each line's level in each step, for one placing of the steps.
struct StepLevels {
    std::array<std::vector<Level>, kLineCount> level;
    std::vector<bool> captured;
    std::size_t capturedCount = 0;
};

// `starts` holds where each step starts and, last, where the last one ends.
StepLevels LevelsOfSteps(const std::array<Segments, kLineCount>& lines, double startPs, double endPs,
                         const std::vector<double>& starts);
std::vector<double> EvenStarts(double firstPs, double stepPs, std::size_t steps);

// How a line's levels relate to the patterns, in the order preferred on a tie.
enum Reading { kFollows, kOtherLine, kInverted, kReadingCount };

std::array<std::size_t, kReadingCount> Agreements(const StepLevels& steps, const WritePlan& plan, int line);

// A placing is better the more steps it explains, by any reading of each
// line, and the fewer it contradicts.
long Score(const StepLevels& steps, const WritePlan& plan);

// The step edges of the write phase, by step number, fitted to a straight
// line: where the first step starts and how long a step takes.
struct Boundary {
    std::size_t step;
    double timePs;
};

// An edge counts as a step's when it lies within this share of a step of
// where the edges before it put that step: a late step delays all after it
// (each sleep starts when the step before it ends), and the edges are
// followed across up to this much delay.
constexpr double kBoundaryWindow = 0.45;

std::vector<Boundary> Boundaries(const std::vector<double>& edges, double firstPs, double stepPs,
                                 std::size_t steps);

// Where each step starts, and the last ends: at its edge where one was
// seen, else on from the nearest step edge before it (or back from the one
// after it) at the step length found.
std::vector<double> StepStarts(const std::vector<Boundary>& boundaries, double firstPs, double stepPs,
                               std::size_t steps);

void FitLine(const std::vector<Boundary>& boundaries, double& firstPs, double& stepPs);

std::string StepList(const std::vector<std::size_t>& steps);

// "step 7" or "steps 1 to 41", numbered from 1.
std::string StepRange(std::size_t first, std::size_t last);

// One placing of the write phase in what the capture holds between two
// times, and what it shows.
class Analyser {
public:
    // Only what the capture holds from `startPs` to `untilPs`.
    Analyser(const Capture& capture, const WritePlan& plan, CaptureAnalysis& out, double startPs, double untilPs);

    void Run();

private:
    // Finds where the steps are: the step length from the gaps between
    // edges, then the placing that explains the most steps.
    bool PlaceSteps();

    // Step boundaries a placing puts after the last edge, at which the
    // patterns change a line that changes elsewhere: steps the lines never
    // showed, a write phase laid over the quiet read phase after it, whose
    // levels may match the last steps' (inputs pulled high or low). Counted
    // a line at a time; a line that never changes (stuck) tells nothing.
    // Before the first edge the lines of a board shorted or stuck keep
    // their level over the first boundaries: a capture that holds the
    // phase's start but not its end may stay unnumbered.
    long QuietBoundaries(const std::vector<double>& starts, double step) const;

    void NoWritePhase();

    void Mark(int line, double from, double to, const std::string& text);

    // Where placed step `step` starts.
    double StepStart(std::size_t step) const;

    // Where the board skipped steps: placed step s shows planned step
    // s + before up to `from`, s + after from there on.
    struct Skip {
        std::size_t from = SIZE_MAX;
        long before = 0;
        long after = 0;
    };

    std::vector<std::size_t> WrongSteps(int line, const Skip& skip) const;

    void JudgeLines();
    void JudgeLine(int line, const std::vector<std::size_t>& wrong);

    // Both lines at one level in every step, where the patterns differ.
    bool FindShort();

    // Steps the board never showed: from some step on, the levels are
    // those of a later step of the patterns. The steps may have been
    // placed by the part before the gap or by the part after it.
    void FindMissingSteps();

    void MeasurePeriod();

    // The last step ends where the lines are made inputs: the first edge
    // near the end the steps predict. A board's steps each last a little
    // more than asked (the timer tick, the debug port), so the fitted steps
    // miss it by a millisecond or so. Where neither line changes there, the
    // step lengths measured bound it.
    void FindWriteEnd();

    void FindGlitches();
    void DescribeReadPhase();

    const Capture& capture_;
    const WritePlan& plan_;
    CaptureAnalysis& out_;
    double startPs_;
    double endPs_;
    std::array<Segments, kLineCount> raw_;
    std::array<Segments, kLineCount> clean_;
    std::vector<double> edges_;
    std::vector<Boundary> boundaries_;
    StepLevels steps_;
    Skip skip_;
    double gridStartPs_ = 0;
    std::vector<double> starts_;
    std::array<Segments, kLineCount> pulses_;  // folded out of clean_
};

}  // namespace analysis
}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_JUDGING_CAPTURE_ANALYSER_H
