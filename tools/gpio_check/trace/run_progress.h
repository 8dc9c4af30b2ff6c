#ifndef TOOLS_GPIO_CHECK_RUN_PROGRESS_H
#define TOOLS_GPIO_CHECK_RUN_PROGRESS_H

// How far a run has got, from the messages read so far, and the first fault
// the moment the messages show it: a register report whose update did not
// do what it asked, a message out of the run's order, an error message of
// the program. For the progress line while a trace arrives; the report at
// the end is made from the whole trace as before.

#include <cstddef>
#include <string>
#include <vector>

#include "expected_run.h"
#include "trace_messages.h"

namespace gpio_check {

struct RunProgress {
    std::string phase = "waiting for the run";  // setting up, write phase, read phase, closing, done
    std::size_t step = 0;                       // write steps seen
    std::size_t steps = 0;                      // of the run: 120
    std::size_t sample = 0;                     // samples seen
    std::size_t samples = 0;                    // of the run: 600
    std::size_t messages = 0;                   // messages seen
    bool started = false;                       // a message of the program seen
    bool closed = false;                        // the run's closing message seen
    std::string firstFault;                     // empty while none is known
};

// The messages so far against the run the simulated board prints.
RunProgress FollowRun(const std::vector<TraceMessage>& messages, const ExpectedRun& expected);

// One line: "write phase: step 37 of 120, 18.6 s; FAULT: ...", at most
// `width` characters (the progress line fits it to its terminal).
std::string ProgressText(const RunProgress& progress, double secondsSinceStart,
                         std::size_t width = std::string::npos);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_RUN_PROGRESS_H
