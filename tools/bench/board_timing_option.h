#ifndef TOOLS_BENCH_BOARD_TIMING_OPTION_H
#define TOOLS_BENCH_BOARD_TIMING_OPTION_H

// A real board's timing, as --debug-baud and --sleep-tick give it: what the
// debug port's messages cost and the tick the sleeps end on.

#include <cstdint>
#include <string>

namespace gpio_bench {

struct BoardTiming {
    std::uint32_t debugBaud = 0;    // 0: printing takes no time
    std::uint32_t sleepTickUs = 0;  // 0: a sleep ends when its time is up
};

constexpr std::uint32_t kMinBaud = 50, kMaxBaud = 4000000;
constexpr std::uint32_t kMaxTickUs = 1000000;

// BAUD: digits, from kMinBaud to kMaxBaud ("115200").
bool ParseDebugBaud(const std::string& text, BoardTiming& timing, std::string& error);
// TIME with its unit: "1ms", "500us", "0.001s"; from 1 us up to 1 s.
bool ParseSleepTick(const std::string& text, BoardTiming& timing, std::string& error);

// "debug port 115200 Bd, sleep tick 1 ms"; empty for the default.
std::string DescribeTiming(const BoardTiming& timing);

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_BOARD_TIMING_OPTION_H
