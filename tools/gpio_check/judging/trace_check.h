#ifndef TOOLS_GPIO_CHECK_TRACE_CHECK_H
#define TOOLS_GPIO_CHECK_TRACE_CHECK_H

// A board's trace held against the run the simulated board prints: that it
// is a whole run in order, that every register update did what it asked,
// and what the lines read in the read phase.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "expected_run.h"
#include "trace_messages.h"
#include "trace_reader.h"
#include "verdict.h"

namespace gpio_check {

// One "Read value" of the trace, placed in the run.
struct TraceSample {
    std::size_t number;             // 1 to 600
    std::uint32_t value;            // bit 1 GPIO33, bit 0 GPIO80
    std::uint64_t afterWriteEndUs;  // when the program read it, from the write phase's end
};

struct TraceCheck {
    bool anyMessage = false;  // false: the file holds no message of the program
    CheckResult order{"trace"};
    CheckResult registers{"registers"};
    CheckResult readPhase{"read phase (trace)"};
    std::vector<TraceSample> samples;
    // False when the trace fits more than one place in the run (e.g. only
    // samples, cut at both ends): their numbers and times are then a guess.
    bool samplesPlaced = true;
};

// The base the trace reports in its "mapped to" message, or the host's
// usual one when the trace does not show it.
std::uint32_t MappedBase(const std::vector<TraceMessage>& messages);

TraceCheck CheckTrace(const SavedTrace& trace, const ExpectedRun& expected);
// The same for messages alone, with no other text among them.
TraceCheck CheckTrace(const std::vector<TraceMessage>& messages, const ExpectedRun& expected);

// The samples' times in the read phase at `periodUs` a sample, the period
// found against a capture, instead of the 10 ms the program asks for.
void RetimeReadPhase(TraceCheck& check, double periodUs);

// What a trace alone cannot show: the levels on the pins. A line stuck low
// or swapped reads no differently in the program's register reports.
CheckResult PinsNotCaptured();

// The bit of each line in the program's 2-bit value, GPIO33 first.
constexpr std::uint32_t kLineBits[kLineCount] = {0x2, 0x1};

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_TRACE_CHECK_H
