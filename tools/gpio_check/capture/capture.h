#ifndef TOOLS_GPIO_CHECK_CAPTURE_H
#define TOOLS_GPIO_CHECK_CAPTURE_H

// A logic-analyser capture of GPIO33 and GPIO80, as read from a file: each
// line's level from the start of the capture and every change after it.
// Times are picoseconds from the capture's first sample, so a 24 MHz
// analyser's sample period (41 666.7 ps) and a VCD's 1 us tick both fit.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gpio_check {

enum class Level : char { Low = '0', High = '1', Unknown = 'x', Undriven = 'z' };

struct LevelChange {
    std::uint64_t timePs;
    Level level;
};

// A run of the exercise changes a line a few hundred times; a line that
// changes more than this is a clock or noise on the wrong pin. Only its
// first changes are kept, so memory stays bounded whatever the file holds.
constexpr std::size_t kMaxKeptChanges = 100000;

struct CapturedLine {
    std::string channel;               // the channel name in the file, printable
    std::vector<LevelChange> changes;  // the first is the level at time 0
    std::uint64_t changeCount = 0;     // every change in the file, kept or not

    // More changes than a run makes: `changes` holds only the first ones.
    bool Busy() const { return changeCount > kMaxKeptChanges; }
};

struct Capture {
    CapturedLine gpio33;
    CapturedLine gpio80;
    std::uint64_t endPs = 0;         // time of the last sample
    std::uint64_t sampleRateHz = 0;  // 0 where the format has none (VCD)
};

// Which channel of the file is which line: by name unless the user maps it
// (e.g. GPIO33=D3), or by its index among the file's logic channels,
// counted from 0 as sigrok numbers them (GPIO33@3).
struct ChannelMap {
    std::string gpio33 = "GPIO33";
    std::string gpio80 = "GPIO80";
    int gpio33Index = -1;  // used instead of the name when >= 0
    int gpio80Index = -1;
};

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CAPTURE_H
