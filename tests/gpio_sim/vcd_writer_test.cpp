// The Value Change Dump of the lines: header, initial values, one entry per
// change, z and x where a probe would not see a clean level.

#include <gtest/gtest.h>

#include <string>

#include "line_recording.h"
#include "pxa_gpio_model.h"
#include "vcd_writer.h"

namespace {

using gpio_bench::LineRecording;
using gpio_bench::PinState;

constexpr PinState kOutputLow{true, false, false, false};
constexpr PinState kOutputHigh{true, true, false, false};
constexpr PinState kUndriven{false, false, false, false};
constexpr PinState kInputHigh{false, true, true, false};
constexpr PinState kFighting{true, true, true, true};

// GPIO33 and GPIO80 as outputs from 0, a few changes, 2 ms long.
LineRecording SmallRecording() {
    host::PxaGpioModel gpio;
    LineRecording recording;
    recording.Start(gpio);
    recording.OnPinChange(33, kOutputLow, 0);
    recording.OnPinChange(80, kOutputLow, 0);
    recording.OnPinChange(80, kOutputHigh, 500);
    recording.OnPinChange(33, kFighting, 1000);
    recording.OnPinChange(33, kUndriven, 1500);
    recording.OnPinChange(80, kOutputLow, 1500);  // a glitch within one instant
    recording.OnPinChange(80, kInputHigh, 1500);
    recording.OnPinChange(5, kOutputHigh, 1600);  // not one of the exercise's lines
    recording.Finish(2000);
    return recording;
}

TEST(VcdWriterTest, WritesHeaderInitialValuesAndEachChangeOnce) {
    const std::string vcd = gpio_sim::RenderVcd(SmallRecording(), "GPIO80 high from 1.5 ms");
    EXPECT_EQ(vcd,
              "$version pxa-gpio-sim: GPIO exercise on a simulated PXA27x $end\n"
              "$comment GPIO80 high from 1.5 ms $end\n"
              "$timescale 1 us $end\n"
              "$scope module pxa27x_gpio $end\n"
              "$var wire 1 ! GPIO33 $end\n"
              "$var wire 1 \" GPIO33_output $end\n"
              "$var wire 1 # GPIO80 $end\n"
              "$var wire 1 $ GPIO80_output $end\n"
              "$upscope $end\n"
              "$enddefinitions $end\n"
              "#0\n$dumpvars\n0!\n1\"\n0#\n1$\n$end\n"
              "#500\n1#\n"
              "#1000\nx!\n"
              "#1500\nz!\n0\"\n0$\n"  // GPIO80 stays high, now from outside

              "#2000\n");
}

TEST(VcdWriterTest, LevelShowsWhoDrivesTheLine) {
    EXPECT_EQ(gpio_sim::VcdLevel(kOutputLow), '0');
    EXPECT_EQ(gpio_sim::VcdLevel(kOutputHigh), '1');
    EXPECT_EQ(gpio_sim::VcdLevel(kUndriven), 'z');
    EXPECT_EQ(gpio_sim::VcdLevel(kInputHigh), '1');
    EXPECT_EQ(gpio_sim::VcdLevel({false, false, true, false}), '0');
    EXPECT_EQ(gpio_sim::VcdLevel(kFighting), 'x');
}

TEST(VcdWriterTest, RecordingAnswersTheStateAtAnyTime) {
    const LineRecording recording = SmallRecording();
    EXPECT_EQ(recording.StateAt(1, 499), kOutputLow);
    EXPECT_EQ(recording.StateAt(1, 500), kOutputHigh);
    EXPECT_EQ(recording.StateAt(1, 1999), kInputHigh);
    EXPECT_EQ(recording.Tracks()[1].changes.size(), 3u);  // the glitch left no trace
    const auto contention = gpio_bench::FindContention(recording);
    ASSERT_EQ(contention.size(), 1u);
    EXPECT_STREQ(contention[0].line, "GPIO33");
    EXPECT_EQ(contention[0].firstUs, 1000u);
}

}  // namespace
