// The whole program, entry to exit, on the simulated board under the
// virtual clock: its trace, its timing, its bus traffic and its result.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "TolvarGPIOTest.h"
#include "board_fixture.h"
#include "expected_trace.h"

namespace {

constexpr std::uint32_t kFirstReservation = 0x20000000;

class ExerciseRunTest : public BoardTest {
protected:
    int Run() { return TolvarGPIOTest(nullptr, nullptr, nullptr, 0); }

    // The base the run printed, read back from the mapping message.
    std::uint32_t MappedBase() {
        const std::string marker = "0x40e00000 mapped to: 0x";
        const auto at = Trace().find(marker);
        if (at == std::string::npos) return 0;
        return static_cast<std::uint32_t>(std::stoul(Trace().substr(at + marker.size(), 8), nullptr, 16));
    }

    void ExpectNothingLeftBehind() {
        EXPECT_EQ(Board().ReservedRanges(), 0u);
        EXPECT_EQ(Board().LiveObjects(), 0u);
    }
};

TEST_F(ExerciseRunTest, RunFromPowerUpPrintsTheDocumentedTraceAndSucceeds) {
    EXPECT_EQ(Run(), 0);
    EXPECT_NE(MappedBase(), 0u);
    EXPECT_EQ(Trace(), expected::WholeRun(MappedBase(), 0));
    ExpectNothingLeftBehind();
}

// Windows CE renders each debug message into 128 characters and cuts the
// rest; the longest message is a register report.
TEST_F(ExerciseRunTest, EveryMessageFitsTheDevicesDebugPrintBuffer) {
    Run();
    EXPECT_EQ(Board().LongestMessage(), std::string("    GAFR1_L changed from 0x00000000 ").size());
    EXPECT_LT(Board().LongestMessage(), 128u);
}

TEST_F(ExerciseRunTest, MappedBaseIsTheReservationTheBoardHandedOut) {
    Run();
    // The first free candidate: the trace shows the real address, not a
    // truncated 64-bit pointer.
    EXPECT_EQ(MappedBase(), kFirstReservation);
}

TEST_F(ExerciseRunTest, BusSeesEveryDocumentedAccessInOrder) {
    Run();
    const auto expectedLog = expected::WholeRunAccesses(0, 0);
    ASSERT_EQ(expectedLog.size(), 1712u);
    EXPECT_EQ(Describe(Log()), Describe(expectedLog));
}

TEST_F(ExerciseRunTest, SleepsPaceEveryStepAndAddUpToSixtySixSeconds) {
    Run();
    const auto& sleeps = Board().Sleeps();
    ASSERT_EQ(sleeps.size(), 720u);
    const std::string& trace = Trace();
    for (std::size_t i = 0; i < sleeps.size(); ++i) {
        const bool writing = i < 120;
        EXPECT_EQ(sleeps[i].milliseconds, writing ? 500u : 10u) << "sleep " << i;
        // Each sleep follows its step's message and its step's bus accesses.
        const std::string message = writing ? "Writing 0x0" + std::to_string(i % 4) + "\r"
                                            : std::string("Read value: 0x00\r");
        ASSERT_GE(sleeps[i].traceLength, message.size());
        EXPECT_EQ(trace.substr(sleeps[i].traceLength - message.size(), message.size()), message)
            << "sleep " << i;
        const std::size_t accessesBefore = writing ? 24 + 4 * (i + 1) : 24 + 480 + 8 + 2 * (i - 119);
        EXPECT_EQ(sleeps[i].accessCount, accessesBefore) << "sleep " << i;
    }
    EXPECT_EQ(Board().NowUs(), 66000000u);
}

TEST_F(ExerciseRunTest, EachWriteStepHoldsItsPatternOnThePins) {
    std::vector<unsigned> held;
    Board().SetSleepObserver([&](platform::DWORD) {
        if (!Gpio().IsOutput(33) || !Gpio().IsOutput(80)) return;
        held.push_back((Gpio().PinLevel(33) ? 2u : 0u) | (Gpio().PinLevel(80) ? 1u : 0u));
    });
    Run();
    ASSERT_EQ(held.size(), 120u);
    for (std::size_t i = 0; i < held.size(); ++i) EXPECT_EQ(held[i], i % 4) << "step " << i;
}

TEST_F(ExerciseRunTest, LinesEndAsUndrivenInputsInPlainGpioFunction) {
    Run();
    EXPECT_FALSE(Gpio().IsOutput(33));
    EXPECT_FALSE(Gpio().IsOutput(80));
    // The last pattern, 3, is still latched for when they become outputs again.
    EXPECT_TRUE(Gpio().OutputLatch(33));
    EXPECT_TRUE(Gpio().OutputLatch(80));
    EXPECT_EQ(Gpio().Peek(expected::GPDR1), 0u);
    EXPECT_EQ(Gpio().Peek(expected::GPDR2), 0u);
    EXPECT_EQ(Gpio().Peek(expected::GAFR1_L), 0u);
    EXPECT_EQ(Gpio().Peek(expected::GAFR2_U), 0u);
}

struct DrivenLines {
    bool gpio33High;
    bool gpio80High;
    unsigned sample;
};

void PrintTo(const DrivenLines& lines, std::ostream* out) {
    *out << "GPIO33 " << (lines.gpio33High ? "high" : "low") << ", GPIO80 " << (lines.gpio80High ? "high" : "low");
}

class ExerciseReadPhaseTest : public ExerciseRunTest,
                              public ::testing::WithParamInterface<DrivenLines> {};

TEST_P(ExerciseReadPhaseTest, ReportsTheLevelsDrivenFromOutside) {
    const DrivenLines lines = GetParam();
    Gpio().DriveLine(33, lines.gpio33High);
    Gpio().DriveLine(80, lines.gpio80High);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Trace(), expected::WholeRun(MappedBase(), lines.sample));
    const std::uint32_t gplr1 = lines.gpio33High ? expected::kGpio33 : 0;
    const std::uint32_t gplr2 = lines.gpio80High ? expected::kGpio80 : 0;
    EXPECT_EQ(Describe(Log()), Describe(expected::WholeRunAccesses(gplr1, gplr2)));
}

INSTANTIATE_TEST_SUITE_P(AllLevels, ExerciseReadPhaseTest,
                         ::testing::Values(DrivenLines{false, false, 0}, DrivenLines{false, true, 1},
                                           DrivenLines{true, false, 2}, DrivenLines{true, true, 3}),
                         [](const ::testing::TestParamInfo<DrivenLines>& info) {
                             return std::string("Gpio33") + (info.param.gpio33High ? "High" : "Low") +
                                    "Gpio80" + (info.param.gpio80High ? "High" : "Low");
                         });

// A faulty board, as a probe on the lines and the program's samples show it.
// The outside drives the lines as given for the whole run (the processor
// outdrives it while the lines are outputs), so the samples show what the
// inputs read.
struct FaultyBoard {
    const char* name;
    void (*arm)(host::SimulatedBoard&);
    int drive33, drive80;        // -1 undriven, else the level
    unsigned (*held)(unsigned);  // the lines' levels during the step of a pattern
    unsigned sample;             // every read value
    std::uint64_t endUs;
};

void PrintTo(const FaultyBoard& board, std::ostream* out) { *out << board.name; }

class ExerciseBoardFaultTest : public ExerciseRunTest, public ::testing::WithParamInterface<FaultyBoard> {};

TEST_P(ExerciseBoardFaultTest, ShowsOnTheLinesAndInTheSamples) {
    const FaultyBoard board = GetParam();
    board.arm(Board());
    if (board.drive33 >= 0) Gpio().DriveLine(33, board.drive33 == 1);
    if (board.drive80 >= 0) Gpio().DriveLine(80, board.drive80 == 1);
    std::vector<unsigned> held;
    std::vector<std::uint64_t> startsUs;
    Board().SetSleepObserver([&](platform::DWORD milliseconds) {
        if (milliseconds != 500) return;
        held.push_back((Gpio().PinLevel(33) ? 2u : 0u) | (Gpio().PinLevel(80) ? 1u : 0u));
        startsUs.push_back(Board().NowUs());
    });
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(held.size(), 120u);
    const std::uint64_t stepUs = board.endUs / 132;  // the run is 132 steps' time
    for (std::size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(held[i], board.held(i % 4)) << "step " << i;
        EXPECT_EQ(startsUs[i], i * stepUs) << "step " << i;
    }
    // The registers are as the program wrote them: only the samples differ.
    EXPECT_EQ(Trace(), expected::WholeRun(MappedBase(), board.sample));
    EXPECT_EQ(Board().NowUs(), board.endUs);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ExerciseBoardFaultTest,
    ::testing::Values(
        FaultyBoard{"Healthy", [](host::SimulatedBoard&) {}, 1, 1, [](unsigned p) { return p; }, 3, 66000000},
        FaultyBoard{"Gpio80StuckLow",
                    [](host::SimulatedBoard& b) { b.Gpio().AddBoardFault({host::BoardFault::Kind::StuckLow, 80}); },
                    1, 1, [](unsigned p) { return p & 2u; }, 2, 66000000},
        FaultyBoard{"Gpio33StuckHigh",
                    [](host::SimulatedBoard& b) { b.Gpio().AddBoardFault({host::BoardFault::Kind::StuckHigh, 33}); },
                    0, 0, [](unsigned p) { return p | 2u; }, 2, 66000000},
        // Each pin drives and reads the other line.
        FaultyBoard{"Swapped",
                    [](host::SimulatedBoard& b) { b.Gpio().AddBoardFault({host::BoardFault::Kind::Swapped, 33, 80}); },
                    1, 0, [](unsigned p) { return ((p & 1u) << 1) | (p >> 1); }, 1, 66000000},
        FaultyBoard{"Gpio33Inverted",
                    [](host::SimulatedBoard& b) { b.Gpio().AddBoardFault({host::BoardFault::Kind::Inverted, 33}); },
                    1, 0, [](unsigned p) { return p ^ 2u; }, 0, 66000000},
        // Wired-AND: high only where both pins drive high; one driver
        // outside reaches both inputs.
        FaultyBoard{"Shorted",
                    [](host::SimulatedBoard& b) { b.Gpio().AddBoardFault({host::BoardFault::Kind::Shorted, 33, 80}); },
                    1, -1, [](unsigned p) { return p == 3 ? 3u : 0u; }, 3, 66000000},
        // 5 % slow: each 500 ms step takes 525 ms, each 10 ms sample 10.5 ms.
        FaultyBoard{"SlowClock", [](host::SimulatedBoard& b) { b.SlowClock(0.05); }, 1, 1,
                    [](unsigned p) { return p; }, 3, 69300000}),
    [](const ::testing::TestParamInfo<FaultyBoard>& info) { return info.param.name; });

TEST_F(ExerciseRunTest, ALineChangingMidwayChangesTheSamplesFromThenOn) {
    int samples = 0;
    Board().SetSleepObserver([&](platform::DWORD milliseconds) {
        if (milliseconds == 10 && ++samples == 300) Gpio().DriveLine(33, true);
    });
    EXPECT_EQ(Run(), 0);
    std::string reads;
    for (int i = 0; i < 300; ++i) reads += "Read value: 0x00\r";
    for (int i = 0; i < 300; ++i) reads += "Read value: 0x02\r";
    EXPECT_NE(Trace().find("\r\n" + reads + "+~TolvarGPIO()"), std::string::npos);
}

struct Failure {
    const char* name;
    void (*arm)(host::SimulatedBoard&);
    const char* trace;
};

void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

class ExerciseFailureTest : public ExerciseRunTest, public ::testing::WithParamInterface<Failure> {};

// A run that could not reach the lines says why and must not report success.
TEST_P(ExerciseFailureTest, SkipsBothPhasesLeavesNothingBehindAndFails) {
    GetParam().arm(Board());
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Trace(), GetParam().trace);
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(Board().Sleeps().empty());
    ExpectNothingLeftBehind();
}

TEST_P(ExerciseFailureTest, ErrorMessagesFitTheDevicesDebugPrintBuffer) {
    GetParam().arm(Board());
    Run();
    EXPECT_GT(Board().LongestMessage(), 0u);
    EXPECT_LT(Board().LongestMessage(), 128u);
}

#define UNMAPPED_RUN(call)                                                                  \
    "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at " call "()\r\n-TolvarGPIO()\r\n" \
    "+~TolvarGPIO()\r\n-~TolvarGPIO()\r\n\r\n-TolvarGPIOTest\r\n"

INSTANTIATE_TEST_SUITE_P(
    Causes, ExerciseFailureTest,
    ::testing::Values(
        Failure{"NoDriverStorage", [](host::SimulatedBoard& b) { b.FailObjectStorage(); },
                "+TolvarGPIOTest\r\nError! at new TolvarGPIO()\r\n\r\n-TolvarGPIOTest\r\n"},
        Failure{"NoReservation", [](host::SimulatedBoard& b) { b.FailVirtualAlloc(); },
                UNMAPPED_RUN("VirtualAlloc")},
        // Only exactly 1 is success: 0 and any other value are failures.
        Failure{"VirtualCopyGives0", [](host::SimulatedBoard& b) { b.FailVirtualCopy(0); },
                UNMAPPED_RUN("VirtualCopy")},
        Failure{"VirtualCopyGives2", [](host::SimulatedBoard& b) { b.FailVirtualCopy(2); },
                UNMAPPED_RUN("VirtualCopy")},
        Failure{"VirtualCopyGivesMinus1", [](host::SimulatedBoard& b) { b.FailVirtualCopy(-1); },
                UNMAPPED_RUN("VirtualCopy")}),
    [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

}  // namespace
