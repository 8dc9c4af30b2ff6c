#ifndef TOOLS_BENCH_DRIVE_SCHEDULE_H
#define TOOLS_BENCH_DRIVE_SCHEDULE_H

// What the outside world does to GPIO33 and GPIO80 during a run: each line
// driven high or low, or let go, from a given time on.

#include <cstdint>
#include <string>
#include <vector>

#include "simulated_board.h"

namespace gpio_bench {

// The run's length on a board with the default timing is the sum of its
// sleeps: 120 x 500 ms, then 600 x 10 ms.
constexpr std::uint64_t kRunLengthUs = 66000000;
constexpr std::uint64_t kWritePhaseUs = 60000000;

struct ExerciseLine {
    const char* name;
    unsigned gpio;
};
// In the order of the exercise's 2-bit value, high bit first.
constexpr ExerciseLine kExerciseLines[] = {{"GPIO33", 33}, {"GPIO80", 80}};
constexpr unsigned kExerciseLineCount = 2;

struct ScheduledDrive {
    unsigned gpio;
    host::SimulatedBoard::OutsideDrive drive;
    std::uint64_t atUs;
};

// LINE=LEVEL[@TIME], e.g. "GPIO33=high@62.5". LINE is GPIO33 or GPIO80 (any
// case); LEVEL is high, low or none (undriven), or 1 or 0; TIME is seconds
// into the run ("62.5", "62.5s") or milliseconds ("62500ms"), 0 if left out,
// within a run of `runLengthUs`.
bool ParseDrive(const std::string& text, ScheduledDrive& drive, std::string& error,
                std::uint64_t runLengthUs = kRunLengthUs);

// Digits, optionally a point and at most `maxFraction` digits, scaled so the
// fraction's last place is the unit: "62.5" with 6 gives 62500000. A number
// too large for any run is held at 10^9 units before scaling.
bool ParseFixedPoint(const std::string& text, unsigned maxFraction, std::uint64_t& value);

// A time within the run, to the microsecond.
bool ParseRunTime(const std::string& text, std::uint64_t& timeUs, std::string& error,
                  std::uint64_t runLengthUs = kRunLengthUs);

// Two drives of one line at one time contradict each other.
bool CheckSchedule(const std::vector<ScheduledDrive>& schedule, std::string& error);

const char* LineName(unsigned gpio);
const char* DriveName(host::SimulatedBoard::OutsideDrive drive);
// "GPIO33 high from 62.5 s"
std::string DescribeDrive(const ScheduledDrive& drive);
// Seconds with six decimals: "62.500000".
std::string FormatSeconds(std::uint64_t timeUs);
// Seconds without trailing zeros: "62.5".
std::string FormatShortSeconds(std::uint64_t timeUs);

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_DRIVE_SCHEDULE_H
