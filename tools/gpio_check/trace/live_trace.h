#ifndef TOOLS_GPIO_CHECK_LIVE_TRACE_H
#define TOOLS_GPIO_CHECK_LIVE_TRACE_H

// The trace read as the run goes, from a serial port or a pipe, through the
// same reader as a saved trace, with a progress line while it arrives. A
// port is read until the run's closing message has come, until it hangs up,
// or until it has been quiet for the given time once the run has begun; a
// pipe until its end, as a saved trace is.

#include <string>

#include "progress_line.h"
#include "trace_reader.h"

namespace gpio_check {

// Longer than any silence of a healthy run: on a board, a write step's
// 500 ms sleep and its printing, about 0.5 s.
constexpr double kDefaultQuietSeconds = 5.0;

struct LiveSource {
    int fd = -1;
    std::string name;          // for messages: the path as given
    bool port = false;         // a terminal: stops at the closing message or when quiet
    double quietSeconds = kDefaultQuietSeconds;
    ProgressLine* progress = nullptr;  // or none
    int keepFd = -1;           // each byte read is written here as it comes, or -1
};

enum class LiveEnd {
    Closed,      // the run's closing message came
    EndOfInput,  // a pipe's end
    HungUp,      // the port hung up (a cable, the other side closed)
    Quiet,       // nothing came for the quiet time
};

struct LiveTrace {
    SavedTrace trace;
    LiveEnd end = LiveEnd::EndOfInput;
    double seconds = 0;  // from the first message to the end of reading
    std::string keepError;  // why the bytes stopped being kept, or ""
};

// False with a message naming the source when it cannot be read, is
// refused by the reader, holds no message of the program, or is a port that
// hung up before the run began. The progress line is ended either way, so
// that a message after it starts a line of its own.
bool ReadTraceLive(const LiveSource& source, LiveTrace& live, std::string& error,
                   const TraceLimits& limits = TraceLimits());

// How the reading ended, for the report's heading: "quiet for 5.0 s", ...
std::string DescribeLiveEnd(const LiveTrace& live, double quietSeconds);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_LIVE_TRACE_H
