#include "board_timing_option.h"

#include <algorithm>
#include <cctype>

#include "drive_schedule.h"

namespace gpio_bench {
namespace {

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

bool EndsWith(const std::string& text, const char* suffix) {
    const std::string tail(suffix);
    return text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool ParseDebugBaud(const std::string& text, BoardTiming& timing, std::string& error) {
    std::uint64_t baud = 0;
    if (AllDigits(text)) {
        // Held above the range rather than overflowing.
        for (char c : text) baud = std::min<std::uint64_t>(baud * 10 + static_cast<unsigned>(c - '0'), kMaxBaud + 1);
    }
    if (baud < kMinBaud || baud > kMaxBaud) {
        error = "bad baud rate '" + text + "': give the debug port's bits a second, from " +
                std::to_string(kMinBaud) + " to " + std::to_string(kMaxBaud) + " (e.g. 115200)";
        return false;
    }
    timing.debugBaud = static_cast<std::uint32_t>(baud);
    return true;
}

bool ParseSleepTick(const std::string& text, BoardTiming& timing, std::string& error) {
    // The unit is required: a bare "1" could be a second or a millisecond.
    struct Unit {
        const char* suffix;
        unsigned decimals;  // places below the unit that reach a microsecond
    };
    constexpr Unit kUnits[] = {{"us", 0}, {"ms", 3}, {"s", 6}};
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::uint64_t tickUs = 0;
    bool parsed = false;
    for (const Unit& unit : kUnits) {
        if (!EndsWith(lower, unit.suffix)) continue;
        parsed = ParseFixedPoint(lower.substr(0, lower.size() - std::string(unit.suffix).size()), unit.decimals, tickUs);
        break;
    }
    if (!parsed || tickUs == 0 || tickUs > kMaxTickUs) {
        error = "bad sleep tick '" + text +
                "': give the tick with its unit, to the microsecond, from 1us up to 1s (e.g. 1ms, 500us, 0.01s)";
        return false;
    }
    timing.sleepTickUs = static_cast<std::uint32_t>(tickUs);
    return true;
}

std::string DescribeTiming(const BoardTiming& timing) {
    std::string text;
    if (timing.debugBaud > 0) text = "debug port " + std::to_string(timing.debugBaud) + " Bd";
    if (timing.sleepTickUs > 0) {
        // Milliseconds written as FormatShortSeconds writes seconds.
        text += (text.empty() ? "" : ", ") + std::string("sleep tick ") +
                FormatShortSeconds(std::uint64_t{timing.sleepTickUs} * 1000) + " ms";
    }
    return text;
}

}  // namespace gpio_bench
