#include "board_wiring.h"

#include <algorithm>

namespace host {

void BoardWiring::Add(const BoardFault& fault) {
    faults_.push_back(fault);
    const bool pair = fault.kind == BoardFault::Kind::Swapped || fault.kind == BoardFault::Kind::Shorted;
    for (unsigned line : {fault.line, pair ? fault.other : fault.line}) {
        if (std::find(lines_.begin(), lines_.end(), line) == lines_.end()) lines_.push_back(line);
    }
}

void BoardWiring::Clear() {
    faults_.clear();
    lines_.clear();
}

unsigned BoardWiring::LineOfPin(unsigned gpio) const {
    for (const auto& fault : faults_) {
        if (fault.kind != BoardFault::Kind::Swapped) continue;
        if (gpio == fault.line) return fault.other;
        if (gpio == fault.other) return fault.line;
    }
    return gpio;
}

std::vector<unsigned> BoardWiring::Net(unsigned line) const {
    std::vector<unsigned> net{line};
    for (const auto& fault : faults_) {
        if (fault.kind != BoardFault::Kind::Shorted) continue;
        if (line == fault.line) net.push_back(fault.other);
        if (line == fault.other) net.push_back(fault.line);
    }
    return net;
}

bool BoardWiring::Inverted(unsigned line) const {
    return std::any_of(faults_.begin(), faults_.end(), [line](const BoardFault& fault) {
        return fault.kind == BoardFault::Kind::Inverted && fault.line == line;
    });
}

// The level of a line's net: a rail if it is stuck, else what the pins on
// it drive (low winning), else what the outside drives, else the level an
// undriven input reads.
bool BoardWiring::NetLevel(unsigned line, const PinSide& pins, const OutsideSide& outside,
                           bool& stuck, bool& pinDriven, bool& pinLevel) const {
    stuck = pinDriven = false;
    bool rail = true, fromOutside = true, anyOutside = false;
    pinLevel = true;
    for (unsigned member : Net(line)) {
        for (const auto& fault : faults_) {
            if (fault.line != member) continue;
            if (fault.kind == BoardFault::Kind::StuckLow) rail = false;
            if (fault.kind == BoardFault::Kind::StuckLow || fault.kind == BoardFault::Kind::StuckHigh) stuck = true;
        }
        const Pin pin = pins(LineOfPin(member));  // swapping is its own inverse
        if (pin.output) {
            pinDriven = true;
            pinLevel = pinLevel && (pin.latch != Inverted(member));
        }
        const Outside drive = outside(member);
        if (drive.driven) {
            anyOutside = true;
            fromOutside = fromOutside && drive.high;
        }
    }
    if (stuck) return rail;
    if (pinDriven) return pinLevel;
    if (anyOutside) return fromOutside;
    bool undriven = true;
    for (unsigned member : Net(line)) undriven = undriven && outside(member).high;
    return undriven;
}

BoardWiring::Line BoardWiring::LineState(unsigned line, const PinSide& pins,
                                         const OutsideSide& outside) const {
    bool stuck = false, pinDriven = false, pinLevel = false;
    const bool level = NetLevel(line, pins, outside, stuck, pinDriven, pinLevel);
    const Outside drive = outside(line);
    const bool ownPin = pins(LineOfPin(line)).output;
    bool otherSource = stuck;
    for (unsigned member : Net(line)) {
        otherSource = otherSource || outside(member).driven || (member != line && pins(LineOfPin(member)).output);
    }
    return {ownPin, level, otherSource, !stuck && pinDriven && drive.driven && drive.high != pinLevel};
}

bool BoardWiring::PinInput(unsigned gpio, const PinSide& pins, const OutsideSide& outside) const {
    const unsigned line = LineOfPin(gpio);
    bool stuck = false, pinDriven = false, pinLevel = false;
    return NetLevel(line, pins, outside, stuck, pinDriven, pinLevel) != Inverted(line);
}

}  // namespace host
