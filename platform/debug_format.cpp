#include "debug_format.h"

#include <cstdint>

namespace platform {
namespace {

constexpr unsigned kMaxWidth = 32;

// A NUL-terminated text of `capacity` units, cut at a whole character: a
// character that does not fit is dropped, and so is all after it.
template <typename Char>
class TextBuffer {
public:
    TextBuffer(Char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

    std::size_t Finish() {
        if (capacity_ > 0) out_[length_] = Char(0);
        return length_;
    }

    bool Full() const { return full_; }

protected:
    void Append(const Char* units, std::size_t count) {
        if (full_ || length_ + count + 1 > capacity_) {
            full_ = true;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) out_[length_++] = units[i];
    }

private:
    Char* out_;
    std::size_t capacity_;
    std::size_t length_ = 0;
    bool full_ = false;
};

std::uint32_t ValidCodePoint(std::uint32_t cp) {
    return cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0xFFFD : cp;
}

class Utf8Writer : public TextBuffer<char> {
public:
    using TextBuffer::TextBuffer;

    void PutCodePoint(std::uint32_t cp) {
        cp = ValidCodePoint(cp);
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
        Append(bytes, n);
    }
};

// Wide text: UTF-16 where wchar_t is 2 bytes (Windows CE), code points where
// it is 4.
class WideWriter : public TextBuffer<wchar_t> {
public:
    using TextBuffer::TextBuffer;

    void PutCodePoint(std::uint32_t cp) {
        cp = ValidCodePoint(cp);
        wchar_t units[2];
        std::size_t n = 0;
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            units[n++] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            units[n++] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            units[n++] = static_cast<wchar_t>(cp);
        }
        Append(units, n);
    }
};

template <typename Writer>
void PutPadding(Writer& writer, unsigned count, char fill) {
    for (unsigned i = 0; i < count; ++i) writer.PutCodePoint(static_cast<unsigned char>(fill));
}

// Writes `digits` (most significant first) with sign, width and flags applied.
template <typename Writer>
void PutField(Writer& writer, const char* digits, unsigned digitCount, bool negative,
              unsigned width, bool zeroPad, bool leftAlign) {
    const unsigned length = digitCount + (negative ? 1u : 0u);
    const unsigned padding = width > length ? width - length : 0;
    if (!leftAlign && !zeroPad) PutPadding(writer, padding, ' ');
    if (negative) writer.PutCodePoint('-');
    if (!leftAlign && zeroPad) PutPadding(writer, padding, '0');
    for (unsigned i = 0; i < digitCount; ++i) writer.PutCodePoint(static_cast<unsigned char>(digits[i]));
    if (leftAlign) PutPadding(writer, padding, ' ');
}

template <typename Writer>
void PutNumber(Writer& writer, std::uint32_t magnitude, bool negative, unsigned base,
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

// Arguments as a C variadic call passes them: 32-bit integers, and text of
// the format's own character type for %s.
template <typename Char>
class VaListArguments {
public:
    explicit VaListArguments(std::va_list args) { va_copy(args_, args); }
    ~VaListArguments() { va_end(args_); }
    VaListArguments(const VaListArguments&) = delete;
    VaListArguments& operator=(const VaListArguments&) = delete;
    std::uint32_t Next() { return va_arg(args_, unsigned int); }
    const Char* NextText() { return va_arg(args_, const Char*); }

private:
    std::va_list args_;
};

// The code point at `p`, advancing past it: UTF-16 surrogate pairs are one
// character; a 32-bit wchar_t is one already.
template <typename Char>
std::uint32_t NextCodePoint(const Char*& p) {
    std::uint32_t cp = static_cast<std::uint32_t>(*p++);
    if (sizeof(Char) == 2 && cp >= 0xD800 && cp <= 0xDBFF) {
        const std::uint32_t low = static_cast<std::uint32_t>(*p);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            ++p;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return cp;
}

template <typename Char, typename Writer>
void PutText(Writer& writer, const Char* text) {
    static const Char kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    const Char* p = text != nullptr ? text : kNull;
    while (*p != 0 && !writer.Full()) writer.PutCodePoint(NextCodePoint(p));
}

template <typename Char, typename Writer, typename Arguments>
std::size_t Format(Writer& writer, const Char* format, Arguments& args) {
    const Char* p = format;
    while (*p != 0) {
        if (*p != '%') {
            writer.PutCodePoint(NextCodePoint(p));
            continue;
        }
        const Char* conversion = p++;
        bool zeroPad = false;
        bool leftAlign = false;
        for (;; ++p) {
            if (*p == '0') zeroPad = true;
            else if (*p == '-') leftAlign = true;
            else break;
        }
        unsigned width = 0;
        while (*p >= '0' && *p <= '9') {
            width = width * 10 + static_cast<unsigned>(*p - '0');
            if (width > kMaxWidth) width = kMaxWidth;
            ++p;
        }
        switch (*p) {
        case 'i':
        case 'd': {
            const std::uint32_t value = args.Next();
            // Negate in unsigned arithmetic so INT_MIN has a magnitude too.
            const bool negative = (value & 0x80000000u) != 0;
            const std::uint32_t magnitude = negative ? 0u - value : value;
            PutNumber(writer, magnitude, negative, 10, false, width, zeroPad, leftAlign);
            ++p;
            break;
        }
        case 'u':
            PutNumber(writer, args.Next(), false, 10, false, width, zeroPad, leftAlign);
            ++p;
            break;
        case 'x':
        case 'X':
            PutNumber(writer, args.Next(), false, 16, *p == 'X', width, zeroPad, leftAlign);
            ++p;
            break;
        case 's':
            PutText(writer, args.NextText());
            ++p;
            break;
        case '%':
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

}  // namespace

std::size_t FormatDebugMessage(char* out, std::size_t capacity, const wchar_t* format,
                               std::va_list args) {
    Utf8Writer writer(out, capacity);
    VaListArguments<wchar_t> arguments(args);
    return Format(writer, format, arguments);
}

std::size_t FormatDebugMessageWide(wchar_t* out, std::size_t capacity, const wchar_t* format,
                                   std::va_list args) {
    WideWriter writer(out, capacity);
    VaListArguments<wchar_t> arguments(args);
    return Format(writer, format, arguments);
}

std::size_t FormatDebugMessage16(char* out, std::size_t capacity, const char16_t* format,
                                 std::va_list args) {
    Utf8Writer writer(out, capacity);
    VaListArguments<char16_t> arguments(args);
    return Format(writer, format, arguments);
}

std::size_t FormatDebugMessage16(char* out, std::size_t capacity, const char16_t* format,
                                 DebugArguments16& args) {
    Utf8Writer writer(out, capacity);
    return Format(writer, format, args);
}

}  // namespace platform
