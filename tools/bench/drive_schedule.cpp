#include "drive_schedule.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace gpio_bench {
namespace {

using Drive = host::SimulatedBoard::OutsideDrive;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool ParseFixedPoint(const std::string& text, unsigned maxFraction, std::uint64_t& value) {
    std::uint64_t whole = 0;
    std::size_t i = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        // Far beyond any run: hold it there rather than overflow.
        whole = std::min<std::uint64_t>(whole * 10 + static_cast<unsigned>(text[i] - '0'), 1000000000);
    }
    const bool hasWhole = i > 0;
    std::uint64_t fraction = 0;
    unsigned fractionDigits = 0;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            if (++fractionDigits > maxFraction) return false;
            fraction = fraction * 10 + static_cast<unsigned>(text[i] - '0');
        }
    }
    if (i != text.size() || (!hasWhole && fractionDigits == 0)) return false;
    std::uint64_t scale = 1;
    for (unsigned d = 0; d < maxFraction; ++d) scale *= 10;
    for (unsigned d = fractionDigits; d < maxFraction; ++d) fraction *= 10;
    value = whole * scale + fraction;
    return true;
}

bool ParseRunTime(const std::string& text, std::uint64_t& timeUs, std::string& error, std::uint64_t runLengthUs) {
    std::string number = Lower(text);
    unsigned fractionDigits = 6;  // seconds, to the microsecond
    if (EndsWith(number, "ms")) {
        number.resize(number.size() - 2);
        fractionDigits = 3;
    } else if (EndsWith(number, "s")) {
        number.resize(number.size() - 1);
    }
    std::uint64_t value = 0;
    if (!ParseFixedPoint(number, fractionDigits, value)) {
        error = "bad time '" + text +
                "': give seconds (62.5 or 62.5s) or milliseconds (62500ms), to the microsecond";
        return false;
    }
    if (value >= runLengthUs) {
        error = "time '" + text + "' is outside the run, which lasts from 0 to " +
                FormatShortSeconds(runLengthUs) + " s";
        return false;
    }
    timeUs = value;
    return true;
}

bool ParseDrive(const std::string& text, ScheduledDrive& drive, std::string& error, std::uint64_t runLengthUs) {
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        error = "bad drive '" + text + "': expected LINE=LEVEL[@TIME], e.g. GPIO33=high@62.5";
        return false;
    }
    const std::string line = text.substr(0, equals);
    std::string level = text.substr(equals + 1);
    std::string time;
    const auto at = level.find('@');
    if (at != std::string::npos) {
        time = level.substr(at + 1);
        level.resize(at);
    }

    bool known = false;
    for (const auto& exerciseLine : kExerciseLines) {
        if (Lower(line) == Lower(exerciseLine.name)) {
            drive.gpio = exerciseLine.gpio;
            known = true;
        }
    }
    if (!known) {
        error = "unknown line '" + line + "': the exercise uses GPIO33 and GPIO80";
        return false;
    }

    const std::string levelWord = Lower(level);
    if (levelWord == "high" || levelWord == "1") {
        drive.drive = Drive::High;
    } else if (levelWord == "low" || levelWord == "0") {
        drive.drive = Drive::Low;
    } else if (levelWord == "none") {
        drive.drive = Drive::Released;
    } else {
        error = "bad level '" + level + "' for " + LineName(drive.gpio) +
                ": expected high, low or none";
        return false;
    }

    drive.atUs = 0;
    if (at != std::string::npos) return ParseRunTime(time, drive.atUs, error, runLengthUs);
    return true;
}

bool CheckSchedule(const std::vector<ScheduledDrive>& schedule, std::string& error) {
    for (std::size_t i = 0; i < schedule.size(); ++i) {
        for (std::size_t j = i + 1; j < schedule.size(); ++j) {
            if (schedule[i].gpio == schedule[j].gpio && schedule[i].atUs == schedule[j].atUs) {
                error = std::string("two drives for ") + LineName(schedule[i].gpio) + " at " +
                        FormatShortSeconds(schedule[i].atUs) + " s: give one level per line and time";
                return false;
            }
        }
    }
    return true;
}

const char* LineName(unsigned gpio) {
    for (const auto& line : kExerciseLines) {
        if (line.gpio == gpio) return line.name;
    }
    return "GPIO?";
}

const char* DriveName(Drive drive) {
    switch (drive) {
    case Drive::High: return "high";
    case Drive::Low: return "low";
    case Drive::Released: return "none";
    }
    return "?";
}

std::string DescribeDrive(const ScheduledDrive& drive) {
    return std::string(LineName(drive.gpio)) + " " + DriveName(drive.drive) + " from " +
           FormatShortSeconds(drive.atUs) + " s";
}

std::string FormatSeconds(std::uint64_t timeUs) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%06" PRIu64, timeUs / 1000000, timeUs % 1000000);
    return text;
}

std::string FormatShortSeconds(std::uint64_t timeUs) {
    std::string text = FormatSeconds(timeUs);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

}  // namespace gpio_bench
