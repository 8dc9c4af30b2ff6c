// Captures of boards with each fault the checker diagnoses, made by the
// simulated board (or from the patterns where no board fault makes them),
// and the trace held against them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <utility>
#include <string>

#include "TolvarGPIOTest.h"
#include "board_wiring.h"
#include "capture_analysis.h"
#include "check_diagram.h"
#include "cross_check.h"
#include "expected_run.h"
#include "line_recording.h"
#include "simulated_board.h"
#include "trace_check.h"
#include "trace_messages.h"

namespace gpio_check {
namespace {

using host::BoardFault;
using host::SimulatedBoard;
constexpr std::uint64_t kPsPerUs = 1000000;
constexpr std::uint64_t kPsPerSecond = 1000000000000;

struct BoardRun {
    std::string trace;
    Capture capture;
};

Level LevelOf(const gpio_bench::PinState& state) {
    if (state.contention) return Level::Unknown;
    if (!state.output && !state.driven) return Level::Undriven;
    return state.level ? Level::High : Level::Low;
}

// What an analyser clipped onto the lines records.
Capture FromRecording(const gpio_bench::LineRecording& recording) {
    Capture capture;
    CapturedLine* lines[] = {&capture.gpio33, &capture.gpio80};
    for (std::size_t t = 0; t < recording.Tracks().size(); ++t) {
        CapturedLine& line = *lines[t];
        line.channel = recording.Tracks()[t].name;
        for (const auto& change : recording.Tracks()[t].changes) {
            const Level level = LevelOf(change.state);
            if (line.changes.empty() || line.changes.back().level != level) {
                line.changes.push_back({change.timeUs * kPsPerUs, level});
            }
        }
    }
    capture.endPs = recording.EndUs() * kPsPerUs;
    return capture;
}

// The unchanged routine on the simulated board, set up by `setUp`.
BoardRun RunBoard(const std::function<void(SimulatedBoard&)>& setUp = [](SimulatedBoard&) {}) {
    SimulatedBoard& board = SimulatedBoard::Instance();
    board.PowerUp();
    board.UseVirtualClock();
    board.CaptureTrace();
    setUp(board);
    gpio_bench::LineRecording recording;
    recording.Start(board.Gpio());
    board.Gpio().SetPinListener([&recording](unsigned gpio, const gpio_bench::PinState& state, std::uint64_t us) {
        recording.OnPinChange(gpio, state, us);
    });
    TolvarGPIOTest(nullptr, nullptr, nullptr, 0);
    recording.Finish(board.NowUs());
    BoardRun run{board.Trace(), FromRecording(recording)};
    board.PowerUp();
    return run;
}

// Both lines through `patterns`, one step each, from `startPs`; low before and after.
Capture FromPatterns(const std::vector<std::uint32_t>& patterns, std::uint64_t stepPs, std::uint64_t startPs,
                     std::uint64_t endPs) {
    Capture capture;
    CapturedLine* lines[] = {&capture.gpio33, &capture.gpio80};
    for (int line = 0; line < kLineCount; ++line) {
        CapturedLine& captured = *lines[line];
        captured.changes.push_back({0, Level::Low});
        for (std::size_t s = 0; s <= patterns.size(); ++s) {
            const Level level = s < patterns.size() && (patterns[s] & kLineBits[line]) ? Level::High : Level::Low;
            if (level != captured.changes.back().level) captured.changes.push_back({startPs + s * stepPs, level});
        }
    }
    capture.endPs = endPs;
    return capture;
}

// The capture as an analyser started late or stopped early would hold it.
Capture Cut(const Capture& whole, std::uint64_t fromPs, std::uint64_t toPs) {
    Capture cut;
    cut.endPs = toPs - fromPs;
    CapturedLine* to[] = {&cut.gpio33, &cut.gpio80};
    const CapturedLine* from[] = {&whole.gpio33, &whole.gpio80};
    for (int line = 0; line < kLineCount; ++line) {
        to[line]->changes.push_back({0, LevelAt(*from[line], static_cast<double>(fromPs))});
        for (const LevelChange& change : from[line]->changes) {
            if (change.timePs > fromPs && change.timePs <= toPs) to[line]->changes.push_back({change.timePs - fromPs, change.level});
        }
    }
    return cut;
}

// A pulse of the other level on GPIO33.
Capture WithGlitch(Capture capture, std::uint64_t atPs, std::uint64_t widthPs) {
    auto& changes = capture.gpio33.changes;
    const Level level = LevelAt(capture.gpio33, static_cast<double>(atPs));
    const Level other = level == Level::High ? Level::Low : Level::High;
    auto at = std::upper_bound(changes.begin(), changes.end(), atPs,
                               [](std::uint64_t t, const LevelChange& c) { return t < c.timePs; });
    at = changes.insert(at, {atPs, other});
    changes.insert(at + 1, {atPs + widthPs, level});
    return capture;
}

// `count` pulses of the other level on `line`, `widthPs` wide, one every `everyPs`.
Capture WithPulses(Capture capture, int line, std::uint64_t atPs, std::uint64_t widthPs, int count = 1,
                   std::uint64_t everyPs = 0) {
    CapturedLine& captured = line == 0 ? capture.gpio33 : capture.gpio80;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t start = atPs + static_cast<std::uint64_t>(i) * everyPs;
        const Level level = LevelAt(captured, static_cast<double>(start));
        const Level other = level == Level::High ? Level::Low : Level::High;
        auto& changes = captured.changes;
        auto at = std::upper_bound(changes.begin(), changes.end(), start,
                                   [](std::uint64_t t, const LevelChange& c) { return t < c.timePs; });
        at = changes.insert(at, {start, other});
        changes.insert(at + 1, {start + widthPs, level});
    }
    return capture;
}

// Every change from `fromPs` on comes `byPs` later, as when the program's
// thread wakes late from one sleep: each sleep starts when the step before
// it ends.
Capture Delayed(Capture capture, std::uint64_t fromPs, std::uint64_t byPs) {
    for (CapturedLine* line : {&capture.gpio33, &capture.gpio80}) {
        for (LevelChange& change : line->changes) {
            if (change.timePs >= fromPs) change.timePs += byPs;
        }
    }
    capture.endPs += byPs;
    return capture;
}

// A board that resets at `atPs` (its lines as at power-up) and runs
// `second` from `gapPs` later: the capture holds both runs.
Capture Restarted(const Capture& first, std::uint64_t atPs, std::uint64_t gapPs, const Capture& second) {
    Capture both = Cut(first, 0, atPs);
    CapturedLine* to[] = {&both.gpio33, &both.gpio80};
    const CapturedLine* from[] = {&second.gpio33, &second.gpio80};
    for (int line = 0; line < kLineCount; ++line) {
        for (std::size_t i = 0; i < from[line]->changes.size(); ++i) {
            const LevelChange& change = from[line]->changes[i];
            if (change.level == to[line]->changes.back().level) continue;
            to[line]->changes.push_back({i == 0 ? atPs : change.timePs + atPs + gapPs, change.level});
        }
    }
    both.endPs = atPs + gapPs + second.endPs;
    return both;
}

const ExpectedRun& Expected() {
    static const ExpectedRun run = RunExpectedExercise(0x20000000);
    return run;
}

std::string Notes(const CheckResult& result, int line) {
    std::string text;
    for (const auto& note : result.lineNotes) {
        if (note.line == line) text += note.text + "; ";
    }
    return text;
}

TEST(CaptureDiagnosis, EachBoardFaultIsNamed) {
    const WritePlan plan = PlanFromRun(Expected());
    ASSERT_EQ(plan.patterns.size(), 120u);
    ASSERT_EQ(plan.stepPs, 500000000000u);
    const auto fault = [](BoardFault::Kind kind, unsigned line, unsigned other = 0) {
        return [=](SimulatedBoard& board) { board.Gpio().AddBoardFault({kind, line, other}); };
    };
    const Capture healthy = RunBoard().capture;
    const auto drivenAfterRun = [](SimulatedBoard::OutsideDrive level) {
        return [level](SimulatedBoard& board) {
            board.ScheduleDrive(33, level, 60000000);
            board.ScheduleDrive(80, level, 60000000);
        };
    };
    const Capture pulledHigh = RunBoard(drivenAfterRun(SimulatedBoard::OutsideDrive::High)).capture;
    const Capture pulledLow = RunBoard(drivenAfterRun(SimulatedBoard::OutsideDrive::Low)).capture;
    // The debug port at 115200 Bd and a 1 ms tick: steps of 502 ms, the
    // first and last longer by their other messages.
    const auto realTiming = [](std::function<void(SimulatedBoard&)> more) {
        return [more](SimulatedBoard& board) {
            board.DebugPortBaud(115200);
            board.SleepTick(1000);
            more(board);
        };
    };
    // A line busier than any run: the reader kept only its changes up to 30.3 s.
    Capture busy = healthy;
    busy.gpio33 = Cut(healthy, 0, 30300000 * kPsPerUs).gpio33;
    busy.gpio33.changeCount = kMaxKeptChanges + 1;
    std::vector<std::uint32_t> skipping = plan.patterns;
    skipping.erase(skipping.begin() + 50);
    // One line carries the other's pattern while the other is stuck low.
    std::vector<std::uint32_t> gpio33AsGpio80, gpio80AsGpio33;
    for (std::uint32_t pattern : plan.patterns) {
        gpio33AsGpio80.push_back((pattern & kLineBits[1]) != 0 ? kLineBits[0] : 0);
        gpio80AsGpio33.push_back((pattern & kLineBits[0]) != 0 ? kLineBits[1] : 0);
    }
    const char* const follows = "follows the patterns in all";
    const struct {
        const char* board;
        Capture capture;
        const char* gpio33;
        const char* gpio80;
        Status writePhase, period, glitches;
        const char* finding;  // in the write phase's or the period's summary and details
    } cases[] = {
        {"healthy", healthy, "follows the patterns in all 120 steps", "follows the patterns in all 120 steps",
         Status::Ok, Status::Ok, Status::Ok, "median 500.000 ms (least 500.000 ms, greatest 500.000 ms)"},
        {"GPIO80 stuck low", RunBoard(fault(BoardFault::Kind::StuckLow, 80)).capture, "follows", "stuck low: low in all 120",
         Status::Fault, Status::Ok, Status::Ok, ""},
        {"GPIO33 stuck high", RunBoard(fault(BoardFault::Kind::StuckHigh, 33)).capture, "stuck high: high in all 120",
         "follows", Status::Fault, Status::Ok, Status::Ok, ""},
        {"GPIO80 inverted", RunBoard(fault(BoardFault::Kind::Inverted, 80)).capture, "follows", "inverted: the opposite",
         Status::Fault, Status::Ok, Status::Ok, "GPIO80 inverted"},
        // Also what two steps skipped would show on GPIO33 alone.
        {"GPIO33 inverted", RunBoard(fault(BoardFault::Kind::Inverted, 33)).capture, "inverted: the opposite", "follows",
         Status::Fault, Status::Ok, Status::Ok, "GPIO33 inverted"},
        {"lines swapped", RunBoard(fault(BoardFault::Kind::Swapped, 33, 80)).capture, "swapped with the other line",
         "swapped with the other line", Status::Fault, Status::Ok, Status::Ok, "the two lines are swapped"},
        {"lines shorted", RunBoard(fault(BoardFault::Kind::Shorted, 33, 80)).capture, "shorted to GPIO80",
         "shorted to GPIO33", Status::Fault, Status::Ok, Status::Ok, "where the patterns differ both are low"},
        {"healthy, a real board's timing", RunBoard(realTiming([](SimulatedBoard&) {})).capture,
         "follows the patterns in all 120 steps", "follows the patterns in all 120 steps", Status::Ok, Status::Ok,
         Status::Ok, "median 502.000 ms"},
        {"lines shorted, a real board's timing",
         RunBoard(realTiming([](SimulatedBoard& board) {
             board.Gpio().AddBoardFault({BoardFault::Kind::Shorted, 33, 80});
             board.ScheduleDrive(33, SimulatedBoard::OutsideDrive::Low, 60500000);  // 0.2 s into the read phase
         })).capture,
         "shorted to GPIO80",
         "shorted to GPIO33", Status::Fault, Status::Ok, Status::Ok, "median 502.000 ms"},
        {"slow clock", RunBoard([](SimulatedBoard& board) { board.SlowClock(0.05); }).capture, "follows", "follows",
         Status::Ok, Status::Fault, Status::Ok, "the steps take 5.0 % longer than the program asks"},
        {"fast clock", RunBoard([](SimulatedBoard& board) { board.SlowClock(-0.05); }).capture, "follows", "follows",
         Status::Ok, Status::Fault, Status::Ok, "the steps take 5.0 % less than the program asks: the board's clock or timer runs fast"},
        {"GPIO33 carries GPIO80's pattern, GPIO80 stuck low",
         FromPatterns(gpio33AsGpio80, plan.stepPs, 3 * kPsPerSecond, 70 * kPsPerSecond), "carries GPIO80's pattern",
         "stuck low", Status::Fault, Status::Ok, Status::Ok, "GPIO33 carries GPIO80's pattern in all 120 steps; GPIO80 stuck low"},
        {"GPIO80 carries GPIO33's pattern, GPIO33 stuck low",
         FromPatterns(gpio80AsGpio33, plan.stepPs, 3 * kPsPerSecond, 70 * kPsPerSecond), "stuck low",
         "carries GPIO33's pattern", Status::Fault, Status::Ok, Status::Ok, "GPIO33 stuck low; GPIO80 carries"},
        {"a glitch", WithGlitch(healthy, 10200 * 1000000000ull, 1000000000), "follows", "follows", Status::Ok,
         Status::Ok, Status::Fault, "1 pulse(s) far shorter than a step"},
        // Just under a tenth of a step: still a glitch, not a step.
        {"a 45 ms pulse", WithGlitch(healthy, 10200 * 1000000000ull, 45000000000ull), "follows", "follows",
         Status::Ok, Status::Ok, Status::Fault, "1 pulse(s) far shorter than a step"},
        {"a step missing", FromPatterns(skipping, plan.stepPs, 3 * kPsPerSecond, 70 * kPsPerSecond), "follows",
         "follows", Status::Fault, Status::Ok, Status::Ok, "1 step(s) missing: after step 50 the lines go on with step 52"},
        {"capture started late", Cut(healthy, 20100000 * kPsPerUs, healthy.endPs), "follows the patterns in all 79",
         "follows", Status::Incomplete, Status::Ok, Status::Ok, "steps 1 to 41 are not in it"},
        {"capture stopped early", Cut(healthy, 0, 30300000 * kPsPerUs), "follows the patterns in all 60", "follows",
         Status::Incomplete, Status::Ok, Status::Ok, "steps 61 to 120 are not in it"},
        {"a busy line kept only in part", busy, "follows the patterns in all 60", "follows the patterns in all 60",
         Status::Incomplete, Status::Ok, Status::Ok, "steps 61 to 120 are not in it"},
        // A clock off by up to a fifth either way: the steps placed, the period a fault.
        {"clock 10 % slow", RunBoard([](SimulatedBoard& board) { board.SlowClock(0.10); }).capture, follows, follows,
         Status::Ok, Status::Fault, Status::Ok, "the steps take 10.0 % longer than the program asks"},
        {"clock 15 % slow", RunBoard([](SimulatedBoard& board) { board.SlowClock(0.15); }).capture, follows, follows,
         Status::Ok, Status::Fault, Status::Ok, "median 575.000 ms"},
        {"clock 20 % slow", RunBoard([](SimulatedBoard& board) { board.SlowClock(0.20); }).capture, follows, follows,
         Status::Ok, Status::Fault, Status::Ok, "the steps take 20.0 % longer than the program asks"},
        {"clock 10 % fast", RunBoard([](SimulatedBoard& board) { board.SlowClock(-0.10); }).capture, follows, follows,
         Status::Ok, Status::Fault, Status::Ok, "the steps take 10.0 % less than the program asks"},
        {"clock 15 % fast", RunBoard([](SimulatedBoard& board) { board.SlowClock(-0.15); }).capture, follows, follows,
         Status::Ok, Status::Fault, Status::Ok, "median 425.000 ms"},
        {"clock 20 % fast", RunBoard([](SimulatedBoard& board) { board.SlowClock(-0.20); }).capture, follows, follows,
         Status::Ok, Status::Fault, Status::Ok, "the steps take 20.0 % less than the program asks"},
        // A 1 ms glitch at five points of step 21 (10.0 to 10.5 s). 20 ms
        // after the step's edge it was taken for two, the stretch between
        // the edge and it a pulse too.
        {"a glitch 20 ms into a step", WithPulses(healthy, 0, 10020000000000ull, 1000000000), follows, follows,
         Status::Ok, Status::Ok, Status::Fault, "1 pulse(s) far shorter than a step"},
        {"a glitch a quarter into a step", WithPulses(healthy, 0, 10125000000000ull, 1000000000), follows, follows,
         Status::Ok, Status::Ok, Status::Fault, "1 pulse(s) far shorter than a step"},
        {"a glitch mid-step", WithPulses(healthy, 1, 10250000000000ull, 1000000000), follows, follows,
         Status::Ok, Status::Ok, Status::Fault, "1 pulse(s) far shorter than a step"},
        {"a glitch three quarters into a step", WithPulses(healthy, 1, 10375000000000ull, 1000000000), follows,
         follows, Status::Ok, Status::Ok, Status::Fault, "1 pulse(s) far shorter than a step"},
        {"a glitch 40 ms before a step's end", WithPulses(healthy, 0, 10460000000000ull, 1000000000), follows,
         follows, Status::Ok, Status::Ok, Status::Fault, "1 pulse(s) far shorter than a step"},
        // A line busy for a moment: a 7 ms burst of 35 pulses in step 51,
        // or 80 edges 1.5 s before a run that starts 3 s into the capture.
        {"a burst in step 51", WithPulses(healthy, 1, 25200000000000ull, 100000000, 35, 200000000), follows,
         follows, Status::Ok, Status::Ok, Status::Fault, "35 pulse(s) far shorter than a step"},
        {"a busy line before the run", WithPulses(Delayed(healthy, 1, 3 * kPsPerSecond), 1, 1500 * 1000000000ull,
                                                  500000000, 40, 1000000000),
         "follows the patterns in all 120 steps", "follows the patterns in all 120 steps", Status::Ok, Status::Ok,
         Status::Ok, "median 500.000 ms"},
        // The capture started in step 1, step 2, step 47 or the read phase,
        // the inputs left floating or pulled after the run: the steps seen
        // numbered from the write phase's end. Pulled high or low they were
        // laid 12 steps late (wrong levels over the read phase) and a fault.
        {"capture from step 1", Cut(healthy, 200000 * kPsPerUs, healthy.endPs), "follows the patterns in all 119",
         follows, Status::Incomplete, Status::Ok, Status::Ok, "step 1 is not in it"},
        {"capture from step 2", Cut(pulledHigh, 700000 * kPsPerUs, pulledHigh.endPs),
         "follows the patterns in all 118", follows, Status::Incomplete, Status::Ok, Status::Ok,
         "steps 1 to 2 are not in it"},
        {"capture from step 47, inputs floating", Cut(healthy, 23200000 * kPsPerUs, healthy.endPs),
         "follows the patterns in all 73", follows, Status::Incomplete, Status::Ok, Status::Ok,
         "steps 1 to 47 are not in it"},
        {"capture from step 47, inputs pulled high", Cut(pulledHigh, 23200000 * kPsPerUs, pulledHigh.endPs),
         "follows the patterns in all 73", follows, Status::Incomplete, Status::Ok, Status::Ok,
         "steps 1 to 47 are not in it"},
        {"capture from step 47, inputs pulled low", Cut(pulledLow, 23200000 * kPsPerUs, pulledLow.endPs),
         "follows the patterns in all 73", follows, Status::Incomplete, Status::Ok, Status::Ok,
         "steps 1 to 47 are not in it"},
        {"capture from the read phase", Cut(pulledHigh, 61000000 * kPsPerUs, pulledHigh.endPs), "", "",
         Status::Incomplete, Status::Incomplete, Status::Incomplete, "no write phase found"},
        // Neither the phase's start nor its end: a whole cycle of patterns
        // earlier or later fits as well.
        {"capture of steps 47 to 100 only", Cut(pulledHigh, 23200000 * kPsPerUs, 50100000 * kPsPerUs), "follows",
         "follows", Status::Incomplete, Status::Ok, Status::Ok, "which steps they are is not known"},
        // A board that reset in the read phase (after 166 of 600 samples)
        // and ran again a second later: its last whole run judged. The
        // first run's write phase was held against the second's samples.
        {"restarted in the read phase", Restarted(pulledHigh, 61665000 * kPsPerUs, kPsPerSecond, pulledHigh),
         "follows the patterns in all 120 steps", "follows the patterns in all 120 steps", Status::Info, Status::Ok,
         Status::Ok, "the board restarted: the capture's write phase from 62.665 s judged, the last whole run of 2"},
        {"restarted, GPIO80 stuck low in the second run",
         Restarted(pulledHigh, 61665000 * kPsPerUs, kPsPerSecond, RunBoard(fault(BoardFault::Kind::StuckLow, 80)).capture),
         follows, "stuck low: low in all 120", Status::Fault, Status::Ok, Status::Ok,
         "GPIO80 stuck low; the board restarted"},
        {"restarted, GPIO80 stuck low in the first run",
         Restarted(RunBoard(fault(BoardFault::Kind::StuckLow, 80)).capture, 61665000 * kPsPerUs, kPsPerSecond,
                   pulledHigh),
         follows, follows, Status::Info, Status::Ok, Status::Ok, "the last whole run of 2"},
        // The second run cut short in its write phase: the first is the last whole one.
        {"restarted, the capture ends in the second write phase",
         Restarted(pulledHigh, 61665000 * kPsPerUs, kPsPerSecond, Cut(pulledHigh, 0, 30300000 * kPsPerUs)),
         "follows the patterns in all 120 steps", follows, Status::Ok, Status::Ok, Status::Ok,
         "120 steps found, both lines follow the patterns"},
        {"no activity at all", FromPatterns({}, plan.stepPs, 0, 70 * kPsPerSecond), "stuck low: never changes",
         "stuck low: never changes", Status::Incomplete, Status::Incomplete, Status::Incomplete, "no run found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.board);
        const CaptureAnalysis analysis = AnalyseCapture(c.capture, plan);
        std::string findings = analysis.writePhase.summary + " | " + analysis.period.summary + " | " +
                               analysis.glitches.summary + " |";
        for (const auto& detail : analysis.writePhase.details) findings += " " + detail;
        for (const auto& detail : analysis.period.details) findings += " " + detail;
        EXPECT_NE(Notes(analysis.writePhase, 0).find(c.gpio33), std::string::npos) << Notes(analysis.writePhase, 0);
        EXPECT_NE(Notes(analysis.writePhase, 1).find(c.gpio80), std::string::npos) << Notes(analysis.writePhase, 1);
        EXPECT_EQ(analysis.writePhase.status, c.writePhase) << findings;
        EXPECT_EQ(analysis.period.status, c.period) << findings;
        EXPECT_EQ(analysis.glitches.status, c.glitches) << findings;
        EXPECT_NE(findings.find(c.finding), std::string::npos) << findings;
    }
}

// A board with a real one's timing whose program's thread wakes late from
// some sleeps: each late step delays the rest. A few, each at most
// kLatestStepPs late, on a right median are the scheduler's, named with
// their step numbers and marked; in more steps they leave the timer
// unjudged; a later one is a fault, and so is a step shorter than asked,
// which no sleep is.
TEST(CaptureDiagnosis, LateStepsOnARightMedianAreTheSchedulersUpToALimit) {
    const WritePlan plan = PlanFromRun(Expected());
    const Capture board = RunBoard([](SimulatedBoard& b) {
                              b.DebugPortBaud(115200);
                              b.SleepTick(1000);
                          }).capture;
    // Step 42 of 502 ms starts at about 20.62 s.
    const std::uint64_t step42 = 20700000 * kPsPerUs, ms = 1000000000;
    Capture manyLate = board;
    for (std::uint64_t s = 0; s < 13; ++s) manyLate = Delayed(manyLate, (5000 + 4000 * s) * ms, 30 * ms);
    // Every third step 30 ms late: 1.1 s behind by the end, more than two
    // steps, which a placing on even steps laid one step off ("3 step(s)
    // missing: after step 1").
    Capture thirdLate = board;
    for (std::uint64_t s = 0; s < 37; ++s) thirdLate = Delayed(thirdLate, (5000 + 1500 * s) * ms, 30 * ms);
    Capture shortStep = board;  // step 42 ends 20 ms early
    for (CapturedLine* line : {&shortStep.gpio33, &shortStep.gpio80}) {
        for (LevelChange& change : line->changes) {
            if (change.timePs >= step42 + 400 * ms) change.timePs -= 20 * ms;
        }
    }
    const struct {
        const char* board;
        Capture capture;
        Status period;
        const char* finding;  // in the summary and details
        const char* mark;     // a mark on both lines, or ""
    } cases[] = {
        {"on time", board, Status::Ok, "median 502.000 ms (least 502.000 ms, greatest 502.000 ms)", ""},
        // A thread preempted once, as on a busy machine: 521 ms.
        {"step 42 late by 19 ms", Delayed(board, step42, 19 * ms), Status::Info,
         "1 step(s) late: step 42 (521.000 ms)", "late step 42"},
        {"step 42 late by one quantum", Delayed(board, step42, 100 * ms), Status::Info,
         "1 step(s) late: step 42 (602.000 ms)", "late step 42"},
        {"step 42 late by 190 ms", Delayed(board, step42, 190 * ms), Status::Info, "step 42 (692.000 ms)",
         "late step 42"},
        {"step 42 late by 210 ms", Delayed(board, step42, 210 * ms), Status::Fault,
         "a step is 210.000 ms late, more than a loaded scheduler holds the program's thread back", "late step 42"},
        // As loaded as that, the timer cannot be judged: neither a pass nor a fault.
        {"13 steps late by 30 ms", manyLate, Status::NotSeen, "but 13 of 118 steps are", "late step 10"},
        {"every third step late by 30 ms", thirdLate, Status::NotSeen, "but 37 of 118 steps are", "late step 10"},
        {"step 42 ends 20 ms early", shortStep, Status::Fault, "1 step(s) shorter than 500.000 ms +/- 2 %", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.board);
        const CaptureAnalysis analysis = AnalyseCapture(c.capture, plan);
        std::string findings = analysis.period.summary;
        for (const auto& detail : analysis.period.details) findings += " | " + detail;
        EXPECT_EQ(analysis.writePhase.status, Status::Ok) << analysis.writePhase.summary;
        EXPECT_EQ(analysis.period.status, c.period) << findings;
        EXPECT_NE(findings.find(c.finding), std::string::npos) << findings;
        std::size_t marked = 0;
        for (const FaultMark& mark : analysis.marks) marked += mark.text == c.mark;
        EXPECT_EQ(marked, *c.mark ? 2u : 0u) << findings;
    }
}

// The trace's samples against the pins, on boards read by the program
// while a line is driven from outside from 62.5 s.
TEST(CrossCheck, ASampleThatReadsOtherThanItsPinIsAFault) {
    const WritePlan plan = PlanFromRun(Expected());
    const auto driven = [](std::function<void(SimulatedBoard&)> more) {
        return [more](SimulatedBoard& board) {
            board.ScheduleDrive(33, SimulatedBoard::OutsideDrive::High, 62500000);
            board.ScheduleDrive(80, SimulatedBoard::OutsideDrive::Low, 60000000);
            more(board);
        };
    };
    const BoardRun good = RunBoard(driven([](SimulatedBoard&) {}));
    const BoardRun undriven = RunBoard();
    const BoardRun inverted =
        RunBoard(driven([](SimulatedBoard& board) { board.Gpio().AddBoardFault({BoardFault::Kind::Inverted, 80, 0}); }));
    const BoardRun slow = RunBoard(driven([](SimulatedBoard& board) { board.SlowClock(0.05); }));
    const BoardRun fast = RunBoard(driven([](SimulatedBoard& board) { board.SlowClock(-0.05); }));
    const struct {
        const char* board;
        const BoardRun& traced;
        const BoardRun& captured;
        Status gpio33, gpio80;
    } cases[] = {
        {"healthy", good, good, Status::Ok, Status::Ok},
        // The program read GPIO33 low while the analyser saw it high.
        {"GPIO33's input reads other than the pin", undriven, good, Status::Fault, Status::Ok},
        {"GPIO80 inverted: the pin reads the opposite of the line", inverted, inverted, Status::Ok, Status::Fault},
        {"slow clock: the samples drift but still read their pins", slow, slow, Status::Ok, Status::Ok},
        {"fast clock: the samples come early", fast, fast, Status::Ok, Status::Ok},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.board);
        const auto messages = SplitTraceMessages(c.traced.trace);
        const TraceCheck trace = CheckTrace(messages, Expected());
        const CaptureAnalysis analysis = AnalyseCapture(c.captured.capture, plan);
        const CrossCheck cross = CheckTraceAgainstCapture(trace, c.captured.capture, analysis, plan);
        std::string details;
        for (const auto& detail : cross.result.details) details += detail + "\n";
        ASSERT_EQ(cross.result.lineNotes.size(), 2u) << details;
        EXPECT_EQ(cross.result.lineNotes[0].status, c.gpio33) << cross.result.lineNotes[0].text << "\n" << details;
        EXPECT_EQ(cross.result.lineNotes[1].status, c.gpio80) << cross.result.lineNotes[1].text << "\n" << details;
    }
    // The inverted input reads the opposite of its pin in every sample: the
    // note counts them all and the marks cover the read phase (it said 199
    // of 200, the marks over its first 2 s, the rest taken as past the end).
    {
        const auto messages = SplitTraceMessages(inverted.trace);
        const TraceCheck trace = CheckTrace(messages, Expected());
        const CaptureAnalysis analysis = AnalyseCapture(inverted.capture, plan);
        const CrossCheck cross = CheckTraceAgainstCapture(trace, inverted.capture, analysis, plan);
        ASSERT_EQ(cross.result.lineNotes.size(), 2u);
        EXPECT_NE(cross.result.lineNotes[1].text.find("in 600 of 600 samples"), std::string::npos)
            << cross.result.lineNotes[1].text;
        double markedPs = 0;
        for (const FaultMark& mark : cross.marks) {
            EXPECT_EQ(mark.line, 1);
            EXPECT_GE(mark.startPs, 59.9 * kPsPerSecond);
            markedPs += mark.endPs - mark.startPs;
        }
        EXPECT_GT(markedPs, 5.9 * kPsPerSecond);
    }
}


// A real board's timing, which the simulated board does not have: each write
// step lasts 500 ms plus the timer tick's rounding and its printing, the
// lines become inputs (pulled low) where the last step ends, and the samples
// come one every `periodUs` from `firstUs` after that. The trace's samples
// read what the pins show then, unless the input path is faulty.
struct RealBoard {
    const char* name;
    std::uint64_t periodUs;
    std::uint64_t firstUs;
    std::uint64_t extraSeed;  // each step 500 ms plus 0 to 1.2 ms, from this seed
    std::vector<std::pair<double, int>> gpio33;  // driven to (level; 2: undriven, z) from (seconds into the read phase)
    std::uint64_t endUs = 0;                     // capture end, from the read phase's start; 0: 1 s after the run
    double processorLagUs = 0;                   // the processor sees the edges this much after the analyser
    int readHighFrom = 0;                        // a faulty input: GPIO33 reads high from this sample on
    bool gpio80Inverted = false;                 // a faulty input: GPIO80 reads the opposite of its pin
};

struct RealRun {
    Capture capture;
    TraceCheck trace;
    std::uint64_t readStartPs;
};

RealRun MakeRealRun(const RealBoard& board, const WritePlan& plan) {
    static const TraceCheck healthyTrace = CheckTrace(SplitTraceMessages(RunBoard().trace), Expected());
    RealRun run{{}, healthyTrace, 0};
    CapturedLine* lines[] = {&run.capture.gpio33, &run.capture.gpio80};
    for (CapturedLine* line : lines) line->changes.push_back({0, Level::Low});
    const auto set = [&](int line, std::uint64_t ps, int driven) {
        const Level level = driven == 2 ? Level::Undriven : driven != 0 ? Level::High : Level::Low;
        if (lines[line]->changes.back().level != level) lines[line]->changes.push_back({ps, level});
    };
    std::uint64_t now = 3 * kPsPerSecond, seed = board.extraSeed;
    for (std::uint32_t pattern : plan.patterns) {
        for (int line = 0; line < kLineCount; ++line) set(line, now, (pattern & kLineBits[line]) != 0 ? 1 : 0);
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        now += plan.stepPs + (seed >> 33) % 1201 * 1000000;
    }
    const std::uint64_t readStart = run.readStartPs = now;
    const auto driven = [&](double atUs) {  // GPIO33's level atUs into the read phase
        bool high = false;
        for (const auto& drive : board.gpio33) high = atUs >= drive.first * 1e6 ? drive.second == 1 : high;
        return high;
    };
    set(0, readStart, 0);
    set(1, readStart, 0);
    for (const auto& drive : board.gpio33) {
        set(0, readStart + static_cast<std::uint64_t>(drive.first * 1e12), drive.second);
    }
    const std::uint64_t lastSampleUs = board.firstUs + 599 * board.periodUs;
    run.capture.endPs = readStart + (board.endUs != 0 ? board.endUs : lastSampleUs + 1000000) * kPsPerUs;
    for (TraceSample& sample : run.trace.samples) {
        const double atUs = static_cast<double>(board.firstUs + (sample.number - 1) * board.periodUs);
        bool high33 = driven(atUs - board.processorLagUs);
        if (board.readHighFrom > 0) high33 = static_cast<int>(sample.number) >= board.readHighFrom;
        sample.value = (high33 ? kLineBits[0] : 0) | (board.gpio80Inverted ? kLineBits[1] : 0);
    }
    return run;
}

TEST(CrossCheck, ARealBoardsTimingIsNoFault) {
    const WritePlan plan = PlanFromRun(Expected());
    const std::vector<std::pair<double, int>> highAt2_5 = {{2.5, 1}};
    const RealBoard boards[] = {
        // The sample 218 is the first to read high: (2500 - 5) / 11.5 = 216.96.
        {"samples every 11.5 ms, GPIO33 driven high 2.5 s in", 11500, 5000, 1, highAt2_5},
        {"samples every 10 ms, as on the simulated board", 10000, 0, 2, highAt2_5},
        {"samples every 30 ms", 30000, 12000, 3, {{2.5, 1}, {4.0, 0}, {4.31, 1}}},
        // Sample 251, at 2.5 s, reads low: the processor sees the slow edge at 2.5002 s.
        {"the analyser sees the edge 0.5 ms before the processor", 10000, 0, 0, {{2.4997, 1}}, 0, 500},
        // Sample 251 comes at 2.5 s at the earliest and reads low, 2.5 ms after the pin rose.
        {"GPIO33's input lags its pin by 3 ms", 10000, 0, 0, {{2.4975, 1}}, 0, 3000},
        {"capture ends 3 s into the read phase", 11500, 5000, 4, highAt2_5, 3000000},
        // The samples end 6.9 s in: 6 s of read phase is not all of it.
        {"capture ends 6.5 s into the read phase", 11500, 5000, 4, highAt2_5, 6500000},
        {"GPIO33 reads high from sample 50: no timing puts 2.5 s there", 11500, 5000, 5, highAt2_5, 0, 0, 50},
        {"GPIO33 reads high from sample 300: no timing puts 2.5 s there", 11500, 5000, 6, highAt2_5, 0, 0, 300},
        {"GPIO33 reads low throughout, its pin driven high", 11500, 5000, 7, highAt2_5, 0, 0, 601},
        {"GPIO80's input inverted", 30000, 5000, 8, highAt2_5, 0, 0, 0, true},
        // No sample, or the first three of 600, meet a level: no pass on that.
        {"GPIO33 undriven (z) all through the read phase", 11500, 5000, 9, {{0.0, 2}}},
        {"GPIO33 undriven (z) from 0.03 s into the read phase", 11500, 5000, 9, {{0.03, 2}}},
    };
    const struct {
        Status gpio33, gpio80, cross, readPhase;
        const char* finding;  // in the cross-check's summary and details
    } expected[] = {
        {Status::Ok, Status::Ok, Status::Ok, Status::Info, "samples every 11.5 ms: 10 ms asked, 1.5 ms more"},
        {Status::Ok, Status::Ok, Status::Ok, Status::Info, "samples every 10.0 ms, as asked"},
        {Status::Ok, Status::Ok, Status::Ok, Status::Info, "samples every 29."},
        {Status::Ok, Status::Ok, Status::Ok, Status::Info, "600 samples held against the pins"},
        {Status::Fault, Status::Ok, Status::Fault, Status::Info, "sample 251 read 0 while the pin was high"},
        {Status::Incomplete, Status::Incomplete, Status::Incomplete, Status::Incomplete, "samples fall past the end of the capture"},
        {Status::Ok, Status::Ok, Status::Incomplete, Status::Info, "samples come after the end of the capture at the period found"},
        {Status::Fault, Status::Ok, Status::Fault, Status::Info, "sample 50 read 1 while the pin was low"},
        {Status::Fault, Status::Ok, Status::Fault, Status::Info, "sample 252 read 0 while the pin was high"},
        {Status::Fault, Status::Ok, Status::Fault, Status::Info, "read 0 while the pin was high"},
        {Status::Ok, Status::Fault, Status::Fault, Status::Info, "sample 2 read 1 while the pin was low"},
        {Status::NotSeen, Status::Ok, Status::NotSeen, Status::Info, "too few compared for GPIO33 (the pin x or z)"},
        {Status::NotSeen, Status::Ok, Status::NotSeen, Status::Info, "too few compared for GPIO33 (the pin x or z)"},
    };
    static_assert(std::size(boards) == std::size(expected), "one expectation a board");
    for (std::size_t b = 0; b < std::size(boards); ++b) {
        SCOPED_TRACE(boards[b].name);
        const RealRun run = MakeRealRun(boards[b], plan);
        const CaptureAnalysis analysis = AnalyseCapture(run.capture, plan);
        EXPECT_EQ(analysis.writePhase.status, Status::Ok) << analysis.writePhase.summary;
        EXPECT_EQ(analysis.period.status, Status::Ok) << analysis.period.summary;
        EXPECT_EQ(analysis.readPhase.status, expected[b].readPhase) << analysis.readPhase.summary;
        const CrossCheck cross = CheckTraceAgainstCapture(run.trace, run.capture, analysis, plan);
        std::string findings = cross.result.summary;
        for (const auto& detail : cross.result.details) findings += "\n" + detail;
        ASSERT_EQ(cross.result.lineNotes.size(), 2u) << findings;
        EXPECT_EQ(cross.result.lineNotes[0].status, expected[b].gpio33) << findings;
        EXPECT_EQ(cross.result.lineNotes[1].status, expected[b].gpio80) << findings;
        EXPECT_EQ(cross.result.status, expected[b].cross) << findings;
        EXPECT_NE(findings.find(expected[b].finding), std::string::npos) << findings;
        // A capture that holds every sample says none falls past its end.
        if (boards[b].endUs == 0) {
            EXPECT_EQ(findings.find("past the end"), std::string::npos) << findings;
        }
        // The lines count what the check counts: no "all 600 compared"
        // beside samples that come after the capture's end.
        if (findings.find("samples come after the end of the capture") != std::string::npos) {
            for (const LineNote& note : cross.result.lineNotes) {
                EXPECT_EQ(note.text.find("all 600 samples compared"), std::string::npos) << note.text;
                EXPECT_NE(note.text.find("come after the capture's end"), std::string::npos) << note.text;
            }
        }
    }
    // Times from sample numbers at the period the capture shows (sample
    // 218 of the first board is read 2.5005 s in), not the 10 ms asked.
    {
        RealRun run = MakeRealRun(boards[0], plan);
        const CaptureAnalysis analysis = AnalyseCapture(run.capture, plan);
        const CrossCheck cross = CheckTraceAgainstCapture(run.trace, run.capture, analysis, plan);
        RetimeReadPhase(run.trace, cross.samplePeriodPs / 1e6);
        EXPECT_NE(run.trace.readPhase.details[0].find("high from sample 218 (2.50"), std::string::npos)
            << run.trace.readPhase.details[0];
        EXPECT_NE(run.trace.readPhase.details[0].find("into the read phase at the 11.5 ms a sample found)"),
                  std::string::npos)
            << run.trace.readPhase.details[0];
    }
    // Healthy boards of every timing: the edges fall anywhere in the
    // millisecond the steps add, and the period found holds the board's.
    for (std::uint64_t seed = 10; seed < 55; ++seed) {
        const std::uint64_t periods[] = {10000, 11500, 30000};
        RealBoard board{"", periods[seed % 3], seed % 3 == 0 ? 0 : 3000 + seed * 100, seed, {{2.5, 1}, {4.0, 0}}};
        SCOPED_TRACE("healthy board " + std::to_string(seed) + ", samples every " + std::to_string(board.periodUs) + " us");
        const RealRun run = MakeRealRun(board, plan);
        const CaptureAnalysis analysis = AnalyseCapture(run.capture, plan);
        EXPECT_EQ(analysis.writeEndPs, static_cast<double>(run.readStartPs));
        const CrossCheck cross = CheckTraceAgainstCapture(run.trace, run.capture, analysis, plan);
        std::string findings = cross.result.summary;
        for (const auto& detail : cross.result.details) findings += "\n" + detail;
        EXPECT_EQ(cross.result.status, Status::Ok) << findings;
        const double period = static_cast<double>(board.periodUs) * kPsPerUs;
        EXPECT_LE(cross.samplePeriodLowPs, period) << findings;
        EXPECT_GE(cross.samplePeriodHighPs, period) << findings;
    }
}

// However long the span or busy a line, the picture stays small: a line
// toggling every 5 us for 2 s after the run, a capture ending 208 days on,
// a thousand faults marked (15.6 MB, 17.6 MB and 140 KB before it was bounded).
TEST(CheckDiagram, StaysSmallWhateverTheSpanOrTheChanges) {
    const WritePlan plan = PlanFromRun(Expected());
    const Capture healthy = RunBoard().capture;
    Capture busy = healthy;
    for (std::uint64_t us = 66000000; us < 68000000; us += 5) {
        busy.gpio33.changes.push_back({us * kPsPerUs, us / 5 % 2 ? Level::High : Level::Low});
    }
    busy.endPs = 68 * kPsPerSecond;
    Capture far = healthy;
    far.endPs = 18000000000000ull * kPsPerUs;
    std::vector<FaultMark> marks;
    for (int i = 0; i < 1000; ++i) marks.push_back({i % 2, i * 6e10, i * 6e10 + 1e10, "glitch"});
    const Capture* captures[] = {&busy, &far, &healthy};
    for (const Capture* capture : captures) {
        const CaptureAnalysis analysis = AnalyseCapture(*capture, plan);
        const std::string svg = RenderCheckDiagram(*capture, analysis, capture == &healthy ? marks : analysis.marks, "");
        EXPECT_LT(svg.size(), 100000u);
        EXPECT_NE(svg.find("</svg>"), std::string::npos);
    }
}

// A capture that starts 40 s into the run and one that ends 3 s into the
// read phase: the captured rows are drawn as not captured where the file
// holds nothing (they were drawn as driven low outputs), and the title says
// the verdict it is given.
TEST(CheckDiagram, WhatWasNotCapturedIsDrawnAsNotCaptured) {
    const WritePlan plan = PlanFromRun(Expected());
    const Capture healthy = RunBoard().capture;
    const std::uint64_t late = 40 * kPsPerSecond;
    Capture startsLate = healthy, endsEarly = healthy;
    for (int line = 0; line < kLineCount; ++line) {
        CapturedLine& shifted = line == 0 ? startsLate.gpio33 : startsLate.gpio80;
        shifted.changes = {{0, LevelAt(LineOf(healthy, line), static_cast<double>(late))}};
        for (const LevelChange& change : LineOf(healthy, line).changes) {
            if (change.timePs > late) shifted.changes.push_back({change.timePs - late, change.level});
        }
    }
    startsLate.endPs = healthy.endPs - late;
    endsEarly.endPs = 63 * kPsPerSecond;  // x 1126.6 on the 66 s axis
    const struct {
        const Capture* capture;
        std::size_t gaps;
        const char* first;  // the first gap's rectangle starts here: 0 s, or 63 s
    } cases[] = {{&healthy, 0, ""}, {&startsLate, 2, "x=\"90.0\""}, {&endsEarly, 2, "x=\"1126.6\""}};
    for (const auto& c : cases) {
        const CaptureAnalysis analysis = AnalyseCapture(*c.capture, plan);
        const std::string svg = RenderCheckDiagram(*c.capture, analysis, analysis.marks, "captured: x.vcd",
                                                   "verdict cut off: not a whole run");
        std::size_t gaps = 0;
        for (auto at = svg.find("class=\"gap\""); at != std::string::npos; at = svg.find("class=\"gap\"", at + 1)) {
            ++gaps;
        }
        EXPECT_EQ(gaps, c.gaps) << svg;
        if (c.gaps > 0) {
            const auto gap = svg.find("class=\"gap\"");
            EXPECT_EQ(svg.compare(gap + 12, std::strlen(c.first), c.first), 0) << svg.substr(gap, 80);
            if (c.capture == &startsLate) {
                EXPECT_NE(svg.find(">not captured</text>"), std::string::npos);
            }
        }
        EXPECT_NE(svg.find("class=\"title\">verdict cut off: not a whole run</text>"), std::string::npos);
    }
}

}  // namespace
}  // namespace gpio_check
