#ifndef TOOLS_GPIO_CHECK_EXPECTED_RUN_H
#define TOOLS_GPIO_CHECK_EXPECTED_RUN_H

// What a whole run should print, and when: the unchanged exercise routine
// run on the simulated board under its virtual clock, so the expectation
// follows the program rather than a second copy of its steps.

#include <cstdint>
#include <string>
#include <vector>

#include "trace_messages.h"

namespace gpio_check {

// Which bits of a register a report's update sets and clears, whatever the
// register held before.
struct RegisterRequest {
    std::uint32_t set = 0;
    std::uint32_t clear = 0;
};

struct ExpectedRun {
    std::vector<TraceMessage> messages;
    // Board time at which each message is printed, from the routine's start.
    std::vector<std::uint64_t> timesUs;
    // For each register report, what its update asks; empty otherwise.
    std::vector<RegisterRequest> requests;
    // When the lines are made inputs after the last pattern: the end of the
    // write phase, where a trace and a capture are aligned.
    std::uint64_t writeEndUs = 0;
};

// The run with `mappedBase` in its "mapped to" message: the base the real
// board's trace reports, as the host reserves its own.
ExpectedRun RunExpectedExercise(std::uint32_t mappedBase);

// A step of the run in words, for reports: "the 37th Writing 0x00 (write step 37)".
std::string DescribeStep(const ExpectedRun& run, std::size_t index);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_EXPECTED_RUN_H
