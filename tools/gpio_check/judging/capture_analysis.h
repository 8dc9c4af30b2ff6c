#ifndef TOOLS_GPIO_CHECK_CAPTURE_ANALYSIS_H
#define TOOLS_GPIO_CHECK_CAPTURE_ANALYSIS_H

// A capture of GPIO33 and GPIO80 held against the write phase the program
// runs: where its steps are, each line's level in each step against the
// pattern, the step period, glitches, and the levels in the read phase.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "expected_run.h"
#include "verdict.h"

namespace gpio_check {

// A step period within this fraction of the program's is on time.
constexpr double kPeriodTolerance = 0.02;
// A step longer than that is late. Late steps each at most this late are
// the scheduler's: on Windows CE 4.x a thread whose sleep has ended waits
// for the processor while threads of higher priority run, and while one of
// its own priority finishes its quantum (100 ms by default); two quanta
// are allowed. In more than this share of the steps they leave the timer
// unjudged.
constexpr double kLatestStepPs = 200e9;
constexpr double kMostLateShare = 0.1;
// A pulse shorter than this fraction of a step is a glitch.
constexpr double kGlitchFraction = 0.1;

// The write phase as the program runs it: the pattern of each step, in
// order, and the length of a step, both taken from the expected run.
struct WritePlan {
    std::vector<std::uint32_t> patterns;
    std::uint64_t stepPs = 0;
    std::uint64_t sampleStepPs = 0;  // read phase
    std::size_t samples = 0;
};
WritePlan PlanFromRun(const ExpectedRun& run);

// A stretch of a line marked as wrong, for the diagram.
struct FaultMark {
    int line;
    double startPs;
    double endPs;
    std::string text;
};

struct CaptureAnalysis {
    // Where the capture holds both lines to: its end, or earlier where the
    // reader kept only the first changes of a busy line.
    double endPs = 0;
    bool writePhaseFound = false;
    double firstStepPs = 0;  // may be before the capture starts
    // False when the capture holds neither the write phase's first steps
    // nor its last: the steps fit as well a whole cycle of patterns off,
    // at otherFirstStepPs, and their numbers are a guess.
    bool stepsNumbered = true;
    double otherFirstStepPs = 0;
    // Every step captured and placed by its edges: a run the board ran whole.
    bool wholeWritePhase = false;
    // Whole write phases before the judged one: the board restarted.
    std::size_t restarts = 0;
    double stepPs = 0;       // as measured
    std::size_t missingSteps = 0;
    double leastStepPs = 0;     // the shortest and longest step between two edges
    double greatestStepPs = 0;
    // Where the lines are made inputs: the edge that ends the last step. When
    // the lines keep their level there, it is known only to lie between the
    // earliest and latest times the step lengths allow, writeEndPs between.
    double writeEndPs = 0;
    double writeEndEarliestPs = 0;
    double writeEndLatestPs = 0;
    bool writeEndSeen = false;
    // Each line shows the other's pattern in every step: swapped on the
    // board or on the analyser's probes, which the capture cannot tell.
    bool linesSwapped = false;
    CheckResult writePhase{"write phase (capture)"};
    CheckResult period{"step period"};
    CheckResult glitches{"glitches"};
    CheckResult readPhase{"read phase (capture)"};
    std::vector<FaultMark> marks;
};

CaptureAnalysis AnalyseCapture(const Capture& capture, const WritePlan& plan);

// The level of a line at a time, and whether it holds from `fromPs` to `toPs`.
Level LevelAt(const CapturedLine& line, double timePs);
bool SteadyBetween(const CapturedLine& line, double fromPs, double toPs);

const CapturedLine& LineOf(const Capture& capture, int line);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CAPTURE_ANALYSIS_H
