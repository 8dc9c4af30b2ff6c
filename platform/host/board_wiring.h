#ifndef PLATFORM_HOST_BOARD_WIRING_H
#define PLATFORM_HOST_BOARD_WIRING_H

// The copper between the processor's GPIO pins and the board's lines, where
// the faults a board engineer looks for sit. A probe or an outside driver
// touches the line; the GPIO unit drives and reads its pin. On a good board
// each pin is its own line; a fault changes what connects to what:
//
// - stuck low / high: the line is shorted to ground / the supply, which
//   outdrives the pin: a probe and the pin's input both see the rail.
// - inverted: an inverting buffer between pin and line, both ways: the line
//   shows the opposite of what the pin drives, the pin reads the opposite of
//   the line (an undriven line, low, reads high).
// - swapped: the two lines are crossed: pin A drives and reads line B.
// - shorted: the two lines are one net. Where both pins drive it to
//   different levels, low wins (wired-AND): an n-channel transistor pulls
//   harder than a p-channel one of the same size, so the net sits below the
//   input threshold. A probe on either line and both inputs see that level.

#include <functional>
#include <vector>

namespace host {

struct BoardFault {
    enum class Kind { StuckLow, StuckHigh, Inverted, Swapped, Shorted };
    Kind kind;
    unsigned line;
    unsigned other = 0;  // the second line of Swapped and Shorted
};

class BoardWiring {
public:
    // The processor's side of a pin, and what drives a line from outside.
    struct Pin {
        bool output;
        bool latch;
    };
    struct Outside {
        bool driven;
        bool high;  // also the level of an undriven input (low after power-up)
    };
    using PinSide = std::function<Pin(unsigned gpio)>;
    using OutsideSide = std::function<Outside(unsigned line)>;

    // What a line shows: whether its pin drives it, its level, whether
    // anything else does (the outside, a rail, another pin shorted to it),
    // and whether the outside drives it against a pin (the rail of a stuck
    // line wins without a fight).
    struct Line {
        bool output;
        bool level;
        bool driven;
        bool contention;
    };

    void Add(const BoardFault& fault);
    void Clear();
    // Every line a fault touches; the others are wired straight.
    const std::vector<unsigned>& Lines() const { return lines_; }

    Line LineState(unsigned line, const PinSide& pins, const OutsideSide& outside) const;
    // What the GPIO unit reads on its pin `gpio`.
    bool PinInput(unsigned gpio, const PinSide& pins, const OutsideSide& outside) const;

private:
    unsigned LineOfPin(unsigned gpio) const;  // the line a pin is wired to
    std::vector<unsigned> Net(unsigned line) const;  // the line and those shorted to it
    bool Inverted(unsigned line) const;
    bool NetLevel(unsigned line, const PinSide& pins, const OutsideSide& outside,
                  bool& stuck, bool& pinDriven, bool& pinLevel) const;

    std::vector<BoardFault> faults_;
    std::vector<unsigned> lines_;
};

}  // namespace host

#endif  // PLATFORM_HOST_BOARD_WIRING_H
