#ifndef TOOLS_GPIO_CHECK_CAPTURE_READER_H
#define TOOLS_GPIO_CHECK_CAPTURE_READER_H

// Reading a logic-analyser capture of GPIO33 and GPIO80, as sigrok and
// PulseView save it: a sigrok session (.sr) or a Value Change Dump. Only the
// changes are kept, and of a line busier than any run only the first
// kMaxKeptChanges, so memory follows neither the sample rate nor the file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture.h"

namespace gpio_check {

// Bytes in order from a file, a pipe or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes into `buffer`: how many, 0 at the end, -1 on a read
    // error (errno tells which).
    virtual long Read(char* buffer, std::size_t size) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const char*>(data)), size_(size) {}
    long Read(char* buffer, std::size_t size) override;

private:
    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A sigrok session given as a pipe is copied to a private temporary file
// for libsigrok, at most this much.
constexpr std::uint64_t kMaxSpooledSessionBytes = 1ull << 30;

// Reads `path` into `capture`, the format chosen by content (a .sr session
// is a zip archive, a VCD starts with a `$` keyword), and the channels named
// in `channels` as GPIO33 and GPIO80. The file is opened once and read in
// order, so a named pipe or /dev/stdin works. On failure returns false with
// a message for the user in `error` (e.g. "run.vcd: no channel GPIO80 (the
// file has D0, D1)") and leaves `capture` empty.
//
// A file cut short (a VCD that ends mid-line) is read up to its last whole
// time stamp and `endPs` is that time: it is a capture that ends early,
// which the analysis reports by where the run stops, not a read error.
bool ReadCaptureFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                     std::string& error);
// The same with a bound on what a session from a pipe may take on disk.
bool ReadCaptureFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                     std::string& error, std::uint64_t maxSpooledBytes);

// The readers behind it, for callers that already know the format. `name`
// names the input in messages.
bool ReadVcd(ByteSource& in, const std::string& name, const ChannelMap& channels, Capture& capture,
             std::string& error);
bool ReadVcdFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                 std::string& error);
// Through libsigrok, once the session's metadata has been checked; false
// with a message when the tool was built without it.
bool ReadSigrokSession(const std::string& path, const ChannelMap& channels, Capture& capture,
                       std::string& error);
bool ReadSigrokSession(const std::string& path, const std::string& name, const ChannelMap& channels,
                       Capture& capture, std::string& error);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CAPTURE_READER_H
