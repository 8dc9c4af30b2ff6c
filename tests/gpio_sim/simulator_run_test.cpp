// Whole runs of the unchanged exercise through the simulator, under the
// simulated clock: what the read phase reports under a schedule, and that
// the recorded lines and bus agree with the run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access_log_writer.h"
#include "board_fixture.h"
#include "exercise_session.h"
#include "expected_trace.h"

namespace {

using namespace gpio_sim;
using Drive = host::SimulatedBoard::OutsideDrive;

// The values of the trace's "Read value: 0x.." messages, in order.
std::vector<unsigned> ReadValues(const std::string& trace) {
    std::vector<unsigned> values;
    const std::string marker = "Read value: 0x";
    for (auto at = trace.find(marker); at != std::string::npos; at = trace.find(marker, at + 1)) {
        values.push_back(static_cast<unsigned>(std::stoul(trace.substr(at + marker.size(), 2), nullptr, 16)));
    }
    return values;
}

SessionResult Simulate(const std::vector<ScheduledDrive>& schedule) {
    return RunExerciseSession(ClockKind::Simulated, schedule, true);
}

TEST(SimulatorRunTest, UndrivenRunIsTheProgramsOwnRun) {
    const SessionResult result = Simulate({});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.trace, expected::WholeRun(0x20000000, 0));
    EXPECT_EQ(Describe(result.accesses), Describe(expected::WholeRunAccesses(0, 0)));
    EXPECT_EQ(result.recording.EndUs(), kRunLengthUs);
}

TEST(SimulatorRunTest, RaisingGpio33MidReadChangesTheValuesFromThatSampleOn) {
    const SessionResult result = Simulate({{33, Drive::High, 62500000}});
    const auto values = ReadValues(result.trace);
    ASSERT_EQ(values.size(), 600u);
    for (std::size_t sample = 0; sample < values.size(); ++sample) {
        EXPECT_EQ(values[sample], sample < 250 ? 0u : 2u) << "sample " << sample;
    }
}

TEST(SimulatorRunTest, BothLinesDrivenHighReadThree) {
    const SessionResult result = Simulate({{33, Drive::High, 60000000}, {80, Drive::High, 60000000}});
    const auto values = ReadValues(result.trace);
    ASSERT_EQ(values.size(), 600u);
    for (unsigned value : values) EXPECT_EQ(value, 3u);
    EXPECT_TRUE(FindContention(result.recording).empty());  // the lines were inputs by then
}

TEST(SimulatorRunTest, ReleasedLineReadsLowAgain) {
    const SessionResult result = Simulate({{80, Drive::High, 61000000}, {80, Drive::Released, 63000000}});
    const auto values = ReadValues(result.trace);
    ASSERT_EQ(values.size(), 600u);
    for (std::size_t sample = 0; sample < values.size(); ++sample) {
        EXPECT_EQ(values[sample], sample >= 100 && sample < 300 ? 1u : 0u) << "sample " << sample;
    }
}

TEST(SimulatorRunTest, DrivingAgainstTheOutputsIsReportedAsContention) {
    const SessionResult result = Simulate({{33, Drive::High, 0}, {80, Drive::High, 0}});
    const auto contention = FindContention(result.recording);
    ASSERT_EQ(contention.size(), 2u);
    // Pattern 0 drives both low; GPIO33 is high in patterns 2 and 3 only.
    EXPECT_EQ(contention[0].firstUs, 0u);
    EXPECT_EQ(contention[0].times, 30u);
    EXPECT_EQ(contention[1].times, 60u);
    for (unsigned value : ReadValues(result.trace)) EXPECT_EQ(value, 3u);
}

TEST(SimulatorRunTest, RecordedLinesFollowThePatternsAtTheirExactTimes) {
    const SessionResult result = Simulate({{33, Drive::High, 62500000}});
    const LineRecording& recording = result.recording;
    for (std::uint64_t step = 0; step < 120; ++step) {
        const std::uint64_t start = step * 500000;
        const unsigned pattern = step % 4;
        for (std::uint64_t at : {start, start + 499999}) {
            const PinState gpio33 = recording.StateAt(0, at);
            const PinState gpio80 = recording.StateAt(1, at);
            EXPECT_TRUE(gpio33.output && gpio80.output) << at;
            EXPECT_EQ(gpio33.level, (pattern & 2) != 0) << at;
            EXPECT_EQ(gpio80.level, (pattern & 1) != 0) << at;
        }
    }
    EXPECT_FALSE(recording.StateAt(0, 60000000).output);
    EXPECT_FALSE(recording.StateAt(0, 62499999).driven);
    EXPECT_TRUE(recording.StateAt(0, 62500000).level);
    const RunPhases phases = FindPhases(recording);
    ASSERT_TRUE(phases.found);
    EXPECT_EQ(phases.writeStartUs, 0u);
    EXPECT_EQ(phases.readStartUs, 60000000u);
}

TEST(SimulatorRunTest, AccessLogLinesAreTheBusFormPlusTheTime) {
    const SessionResult result = Simulate({});
    const std::string log = RenderAccessLog(result.accesses);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(log.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 1712u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(0, 23), host::FormatAccess(result.accesses[i])) << i;
        EXPECT_EQ(lines[i].size(), 23u + 1 + std::to_string(result.accesses[i].timeUs / 1000000).size() + 7) << i;
    }
    // The second write step: GPIO80 set at half a second, as it happens.
    EXPECT_EQ(lines[24 + 4 + 3], "W 0x00000020 0x00010000 0.500000");
    EXPECT_EQ(lines.back(), "R 0x00000008 0x00000000 65.990000");
}

}  // namespace
