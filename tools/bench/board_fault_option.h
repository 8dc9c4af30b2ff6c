#ifndef TOOLS_BENCH_BOARD_FAULT_OPTION_H
#define TOOLS_BENCH_BOARD_FAULT_OPTION_H

// The board faults a run can have, as --fault gives them: the wiring of
// GPIO33 and GPIO80 (stuck, inverted, swapped, shorted) and a slow clock.

#include <string>
#include <vector>

#include "board_wiring.h"

namespace gpio_bench {

struct BoardFaults {
    std::vector<host::BoardFault> wiring;
    double slowClock = 0;  // each sleep this fraction longer; 0: on time
};

// One fault: stuck-low=LINE, stuck-high=LINE, inverted=LINE, swapped,
// shorted or slow-clock=FRACTION (0.05: each step 5 % longer; above 0, up
// to 1). LINE is GPIO33 or GPIO80, in any case. Added to `faults`; a fault given twice,
// or a line stuck both ways, is refused.
bool ParseFault(const std::string& text, BoardFaults& faults, std::string& error);

// "GPIO80 stuck low, clock slow, each step 5 % longer"; empty for a healthy board.
std::string DescribeFaults(const BoardFaults& faults);
// The same, one fault an entry.
std::vector<std::string> ListFaults(const BoardFaults& faults);

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_BOARD_FAULT_OPTION_H
