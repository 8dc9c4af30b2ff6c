#include "shown_text.h"

#include <cstdio>

namespace gpio_bench {
namespace {

// The length of the UTF-8 sequence at `i`, or 0 if there is none or it is
// a C1 control (U+0080 to U+009F), which terminals act on like ESC.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    unsigned min;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        min = 0xa0;  // C1 controls are 0xc2 0x80..0x9f
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    unsigned code = lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return length;
}

}  // namespace

std::string ShownText(const std::string& text, std::size_t maxBytes) {
    std::string shown;
    std::size_t i = 0;
    while (i < text.size() && i < maxBytes) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
            ++i;
        } else if (const std::size_t length = c >= 0x80 ? Utf8Length(text, i) : 0; length > 0) {
            shown.append(text, i, length);
            i += length;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
            ++i;
        }
    }
    if (i < text.size()) shown += "...";
    return shown;
}

}  // namespace gpio_bench
