#ifndef TOOLS_GPIO_CHECK_SHOWN_TEXT_H
#define TOOLS_GPIO_CHECK_SHOWN_TEXT_H

// Text from a file, made safe to show on a terminal: control characters
// and bytes that are not UTF-8 become \xNN escapes, and a long text is cut,
// so a name or a bad token can neither drive the terminal nor flood it.

#include <cstddef>
#include <string>

namespace gpio_check {

// At most `maxBytes` of `text` (then "..."), escaped.
std::string ShownText(const std::string& text, std::size_t maxBytes = 80);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_SHOWN_TEXT_H
