#include "board_fault_option.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>

#include "drive_schedule.h"

namespace gpio_bench {
namespace {

using Kind = host::BoardFault::Kind;

struct FaultName {
    const char* name;
    Kind kind;
    bool takesLine;  // else it is about both lines
};
constexpr FaultName kFaultNames[] = {{"stuck-low", Kind::StuckLow, true},
                                     {"stuck-high", Kind::StuckHigh, true},
                                     {"inverted", Kind::Inverted, true},
                                     {"swapped", Kind::Swapped, false},
                                     {"shorted", Kind::Shorted, false}};
constexpr const char* kSlowClock = "slow-clock";
constexpr const char* kExpected =
    "expected stuck-low=LINE, stuck-high=LINE, inverted=LINE, swapped, shorted or slow-clock=FRACTION";

bool SameFault(const host::BoardFault& a, const host::BoardFault& b) {
    return a.kind == b.kind && a.line == b.line && a.other == b.other;
}

bool SameName(const std::string& given, const std::string& name) {
    return std::equal(given.begin(), given.end(), name.begin(), name.end(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    });
}

// A decimal fraction: digits, a point, digits ("0.05", ".5", "1"). One too
// large or too small for a double is refused, not rounded to infinity or 0.
bool ParseFraction(const std::string& text, double& value) {
    const bool digitsAndOnePoint =
        !text.empty() && std::count(text.begin(), text.end(), '.') <= 1 && text != "." &&
        std::all_of(text.begin(), text.end(),
                    [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); });
    if (!digitsAndOnePoint) return false;
    errno = 0;
    value = std::strtod(text.c_str(), nullptr);
    return errno != ERANGE;
}

}  // namespace

bool ParseFault(const std::string& text, BoardFaults& faults, std::string& error) {
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? text.substr(equals + 1) : "";

    if (name == kSlowClock) {
        double fraction = 0;
        if (!hasValue || !ParseFraction(value, fraction) || fraction <= 0 || fraction > 1) {
            error = "bad fault '" + text +
                    "': slow-clock takes the fraction each step lasts longer, above 0 and up to 1 "
                    "(slow-clock=0.05: 500 ms steps take 525 ms)";
            return false;
        }
        if (faults.slowClock > 0) {
            error = "fault 'slow-clock' given more than once";
            return false;
        }
        faults.slowClock = fraction;
        return true;
    }
    const auto known = std::find_if(std::begin(kFaultNames), std::end(kFaultNames),
                                    [&name](const FaultName& f) { return name == f.name; });
    if (known == std::end(kFaultNames)) {
        error = "unknown fault '" + text + "': " + kExpected;
        return false;
    }
    host::BoardFault fault{known->kind, kExerciseLines[0].gpio, kExerciseLines[1].gpio};
    if (!known->takesLine && hasValue) {
        error = "fault '" + name + "' takes no value: it is between GPIO33 and GPIO80";
        return false;
    }
    if (known->takesLine) {
        const auto line = std::find_if(std::begin(kExerciseLines), std::end(kExerciseLines),
                                       [&value](const ExerciseLine& l) { return SameName(value, l.name); });
        if (line == std::end(kExerciseLines)) {
            error = "bad fault '" + text + "': " + name + " takes a line, " + name + "=GPIO33 or " + name +
                    "=GPIO80";
            return false;
        }
        fault = {known->kind, line->gpio, 0};
    }
    for (const auto& given : faults.wiring) {
        if (SameFault(given, fault)) {
            error = "fault '" + text + "' given more than once";
            return false;
        }
        const bool stuck = fault.kind == Kind::StuckLow || fault.kind == Kind::StuckHigh;
        const bool givenStuck = given.kind == Kind::StuckLow || given.kind == Kind::StuckHigh;
        if (stuck && givenStuck && given.line == fault.line) {
            error = std::string(LineName(fault.line)) + " cannot be stuck both low and high";
            return false;
        }
    }
    faults.wiring.push_back(fault);
    return true;
}

std::string DescribeFaults(const BoardFaults& faults) {
    std::string text;
    for (const std::string& part : ListFaults(faults)) text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::vector<std::string> ListFaults(const BoardFaults& faults) {
    std::vector<std::string> list;
    const auto add = [&list](const std::string& part) { list.push_back(part); };
    for (const auto& fault : faults.wiring) {
        switch (fault.kind) {
        case Kind::StuckLow: add(std::string(LineName(fault.line)) + " stuck low"); break;
        case Kind::StuckHigh: add(std::string(LineName(fault.line)) + " stuck high"); break;
        case Kind::Inverted: add(std::string(LineName(fault.line)) + " inverted"); break;
        case Kind::Swapped: add("GPIO33 and GPIO80 swapped"); break;
        case Kind::Shorted: add("GPIO33 and GPIO80 shorted together"); break;
        }
    }
    if (faults.slowClock > 0) {
        char percent[32];
        std::snprintf(percent, sizeof percent, "%g", faults.slowClock * 100);
        add(std::string("clock slow, each step ") + percent + " % longer");
    }
    return list;
}

}  // namespace gpio_bench
