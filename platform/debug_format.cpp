#include "debug_format.h"

#include <cstdint>

namespace platform {
namespace {

constexpr unsigned kMaxWidth = 32;

class Utf8Writer {
public:
    Utf8Writer(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    void PutCodePoint(std::uint32_t cp) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        char bytes[4];
        std::size_t n = 0;
        if (cp < 0x80) {
            bytes[n++] = static_cast<char>(cp);
        } else if (cp < 0x800) {
            bytes[n++] = static_cast<char>(0xC0 | (cp >> 6));
            bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            bytes[n++] = static_cast<char>(0xE0 | (cp >> 12));
            bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            bytes[n++] = static_cast<char>(0xF0 | (cp >> 18));
            bytes[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
        // A character that does not fit whole is dropped, and so is all after it.
        if (full_ || length_ + n + 1 > capacity_) {
            full_ = true;
            return;
        }
        for (std::size_t i = 0; i < n; ++i) out_[length_++] = bytes[i];
    }

    std::size_t Finish() {
        if (capacity_ > 0) out_[length_] = '\0';
        return length_;
    }

private:
    char* out_;
    std::size_t capacity_;
    std::size_t length_ = 0;
    bool full_ = false;
};

void PutPadding(Utf8Writer& writer, unsigned count, char fill) {
    for (unsigned i = 0; i < count; ++i) writer.PutCodePoint(static_cast<unsigned char>(fill));
}

// Writes `digits` (most significant first) with sign, width and flags applied.
void PutField(Utf8Writer& writer, const char* digits, unsigned digitCount, bool negative,
              unsigned width, bool zeroPad, bool leftAlign) {
    const unsigned length = digitCount + (negative ? 1u : 0u);
    const unsigned padding = width > length ? width - length : 0;
    if (!leftAlign && !zeroPad) PutPadding(writer, padding, ' ');
    if (negative) writer.PutCodePoint('-');
    if (!leftAlign && zeroPad) PutPadding(writer, padding, '0');
    for (unsigned i = 0; i < digitCount; ++i) writer.PutCodePoint(static_cast<unsigned char>(digits[i]));
    if (leftAlign) PutPadding(writer, padding, ' ');
}

void PutNumber(Utf8Writer& writer, std::uint32_t magnitude, bool negative, unsigned base,
               bool upper, unsigned width, bool zeroPad, bool leftAlign) {
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[10];
    unsigned count = 0;
    do {
        reversed[count++] = symbols[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    char digits[10];
    for (unsigned i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
    PutField(writer, digits, count, negative, width, zeroPad, leftAlign);
}

}  // namespace

std::size_t FormatDebugMessage(char* out, std::size_t capacity, const wchar_t* format,
                               std::va_list args) {
    Utf8Writer writer(out, capacity);
    const wchar_t* p = format;
    while (*p != L'\0') {
        if (*p != L'%') {
            writer.PutCodePoint(static_cast<std::uint32_t>(*p++));
            continue;
        }
        const wchar_t* conversion = p++;
        bool zeroPad = false;
        bool leftAlign = false;
        for (;; ++p) {
            if (*p == L'0') zeroPad = true;
            else if (*p == L'-') leftAlign = true;
            else break;
        }
        unsigned width = 0;
        while (*p >= L'0' && *p <= L'9') {
            width = width * 10 + static_cast<unsigned>(*p - L'0');
            if (width > kMaxWidth) width = kMaxWidth;
            ++p;
        }
        switch (*p) {
        case L'i':
        case L'd': {
            const int value = va_arg(args, int);
            // Negate in unsigned arithmetic so INT_MIN has a magnitude too.
            const bool negative = value < 0;
            std::uint32_t magnitude = static_cast<std::uint32_t>(value);
            if (negative) magnitude = 0u - magnitude;
            PutNumber(writer, magnitude, negative, 10, false, width, zeroPad, leftAlign);
            ++p;
            break;
        }
        case L'u':
            PutNumber(writer, va_arg(args, unsigned int), false, 10, false, width, zeroPad, leftAlign);
            ++p;
            break;
        case L'x':
        case L'X':
            PutNumber(writer, va_arg(args, unsigned int), false, 16, *p == L'X', width, zeroPad,
                      leftAlign);
            ++p;
            break;
        case L'%':
            writer.PutCodePoint('%');
            ++p;
            break;
        default:
            // Not a conversion this renderer knows: show it as written, consume
            // no argument, and never read past the terminator.
            while (conversion != p) writer.PutCodePoint(static_cast<std::uint32_t>(*conversion++));
            break;
        }
    }
    return writer.Finish();
}

}  // namespace platform
