#ifndef TOOLS_GPIO_CHECK_CAPTURE_H
#define TOOLS_GPIO_CHECK_CAPTURE_H

// A logic-analyser capture of GPIO33 and GPIO80, as read from a file: each
// line's level from the start of the capture and every change after it.
// Times are picoseconds from the capture's first sample, so a 24 MHz
// analyser's sample period (41 666.7 ps) and a VCD's 1 us tick both fit.

#include <cstdint>
#include <string>
#include <vector>

namespace gpio_check {

enum class Level : char { Low = '0', High = '1', Unknown = 'x', Undriven = 'z' };

struct LevelChange {
    std::uint64_t timePs;
    Level level;
};

struct CapturedLine {
    std::string channel;               // the channel name in the file
    std::vector<LevelChange> changes;  // the first is the level at time 0
};

struct Capture {
    CapturedLine gpio33;
    CapturedLine gpio80;
    std::uint64_t endPs = 0;         // time of the last sample
    std::uint64_t sampleRateHz = 0;  // 0 where the format has none (VCD)
};

// Which channel of the file is which line: by name unless the user maps it
// (e.g. GPIO33=D3).
struct ChannelMap {
    std::string gpio33 = "GPIO33";
    std::string gpio80 = "GPIO80";
};

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CAPTURE_H
