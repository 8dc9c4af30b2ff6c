#ifndef TOOLS_GPIO_CHECK_TRACE_READER_H
#define TOOLS_GPIO_CHECK_TRACE_READER_H

// A saved trace read from a file or a pipe: once, a block at a time,
// keeping only the program's messages. A whole run's trace is 12 to 25 KB,
// so the reader refuses, with a message, anything far larger and anything
// that shows no message of the program early on, instead of reading on
// into whatever it was handed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "trace_messages.h"
#include "trace_text.h"

namespace gpio_check {

struct TraceLimits {
    std::uint64_t largestBytes = std::uint64_t{64} << 20;
    // Characters of text before the first message: a terminal log may hold
    // a boot log before the run, but not this much.
    std::uint64_t firstMessageWithin = std::uint64_t{16} << 20;
    // A run prints 741 messages.
    std::size_t mostMessages = 100000;
};

struct SavedTrace {
    std::vector<TraceMessage> messages;  // the program's, in order
    std::size_t unrecognised = 0;        // words of other text, skipped
    std::uint64_t damaged = 0;           // characters that were no text: line noise
    TextEncoding encoding = TextEncoding::Utf8;
    std::uint64_t bytes = 0;
};

class TraceReader {
public:
    explicit TraceReader(const TraceLimits& limits = TraceLimits()) : limits_(limits) {}

    // False once the bytes so far are refused; Error() says why.
    bool Add(const char* bytes, std::size_t size);
    // The end of the bytes; false when they hold no message of the program.
    bool Finish();
    const std::string& Error() const { return error_; }

    // The messages so far, while reading: those split for good, then those
    // in the text held back as the end would split them.
    const std::vector<TraceMessage>& SplitMessages() { return splitter_.Messages(); }
    std::vector<TraceMessage> HeldMessages() const;

    // What was read, once Finish() is done.
    SavedTrace& Trace() { return trace_; }
    // Memory the reading holds beside the messages, for its tests.
    std::size_t HeldBytes() const { return text_.capacity() + splitter_.HeldCharacters(); }
    std::uint64_t Steps() const { return splitter_.Steps(); }

private:
    bool Refuse(const std::string& error);
    bool CheckLimits();

    TraceLimits limits_;
    TraceDecoder decoder_;
    TraceSplitter splitter_;
    std::string text_;  // one block's decoded text
    SavedTrace trace_;
    std::string error_;
};

// Reads the trace at `path` (a file, a pipe, /dev/stdin); false with a
// message naming the path when it cannot be read or is refused.
bool ReadTraceFile(const std::string& path, SavedTrace& trace, std::string& error,
                   const TraceLimits& limits = TraceLimits());

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_TRACE_READER_H
