#ifndef TOOLS_GPIO_CHECK_TRACE_TEXT_H
#define TOOLS_GPIO_CHECK_TRACE_TEXT_H

// The bytes of a saved trace as text. A serial terminal saves what the
// port carried (UTF-8, which for this program is ASCII); a debugger's
// output window on Windows often saves UTF-16, little- or big-endian, with
// or without a byte-order mark.

#include <string>

namespace gpio_check {

enum class TextEncoding { Utf8, Utf16Le, Utf16Be };

// The encoding by byte-order mark, else by where the zero bytes fall.
TextEncoding DetectEncoding(const std::string& bytes);

// The text with any byte-order mark removed; characters outside ASCII
// become '?', since no message of the program holds one.
std::string DecodeTraceText(const std::string& bytes);

const char* EncodingName(TextEncoding encoding);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_TRACE_TEXT_H
