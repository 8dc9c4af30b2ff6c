#ifndef TOOLS_GPIO_CHECK_CAPTURE_READER_H
#define TOOLS_GPIO_CHECK_CAPTURE_READER_H

// Reading a logic-analyser capture of GPIO33 and GPIO80 from a file, as
// sigrok and PulseView save it: a sigrok session (.sr) or a Value Change
// Dump. Only the changes are kept, so memory follows the lines' activity,
// not the sample rate.

#include <string>

#include "capture.h"

namespace gpio_check {

// Reads `path` into `capture`, the format chosen by content (a .sr session
// is a zip archive, a VCD starts with a `$` keyword), and the channels named
// in `channels` as GPIO33 and GPIO80. On failure returns false with a
// message for the user in `error` (e.g. "run.vcd: no channel GPIO80 (the
// file has D0, D1)") and leaves `capture` empty.
//
// A file cut short (a VCD that ends mid-line) is read up to its last whole
// time stamp and `endPs` is that time: it is a capture that ends early,
// which the analysis reports by where the run stops, not a read error.
bool ReadCaptureFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                     std::string& error);

// The two readers behind it, for callers that already know the format.
bool ReadVcdFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                 std::string& error);
// Through libsigrok; false with a message when the tool was built without it.
bool ReadSigrokSession(const std::string& path, const ChannelMap& channels, Capture& capture,
                       std::string& error);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CAPTURE_READER_H
