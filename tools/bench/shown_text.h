#ifndef TOOLS_BENCH_SHOWN_TEXT_H
#define TOOLS_BENCH_SHOWN_TEXT_H

// Text from a file, made safe to show on a terminal: control characters
// and bytes that are not UTF-8 become \xNN escapes, and a long text is cut,
// so a name or a bad token can neither drive the terminal nor flood it.

#include <cstddef>
#include <string>

namespace gpio_bench {

// At most `maxBytes` of `text` (then "..."), escaped.
std::string ShownText(const std::string& text, std::size_t maxBytes = 80);

// A file's name as given on the command line: shown the same way, cut only
// where no path is that long.
constexpr std::size_t kShownNameBytes = 4096;
// A whole message for standard error, whatever outside text is in it.
constexpr std::size_t kShownMessageBytes = 16384;

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_SHOWN_TEXT_H
