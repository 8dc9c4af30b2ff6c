#include "trace_text.h"

#include <algorithm>
#include <cstddef>

namespace gpio_check {
namespace {

bool StartsWith(const std::string& bytes, const char* prefix, std::size_t length) {
    return bytes.size() >= length && bytes.compare(0, length, prefix, length) == 0;
}

std::string DecodeUtf16(const std::string& bytes, std::size_t from, bool littleEndian) {
    std::string text;
    text.reserve((bytes.size() - from) / 2);
    // A last odd byte is half a character cut off by the end of the file.
    for (std::size_t i = from; i + 1 < bytes.size(); i += 2) {
        const unsigned first = static_cast<unsigned char>(bytes[i]);
        const unsigned second = static_cast<unsigned char>(bytes[i + 1]);
        const unsigned unit = littleEndian ? (first | second << 8) : (first << 8 | second);
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

}  // namespace

TextEncoding DetectEncoding(const std::string& bytes) {
    if (StartsWith(bytes, "\xFF\xFE", 2)) return TextEncoding::Utf16Le;
    if (StartsWith(bytes, "\xFE\xFF", 2)) return TextEncoding::Utf16Be;
    // ASCII as UTF-16 has a zero in every other byte: odd places for
    // little-endian, even places for big-endian. Text has no zero bytes.
    std::size_t zeroEven = 0, zeroOdd = 0;
    const std::size_t looked = std::min<std::size_t>(bytes.size(), 4096);
    for (std::size_t i = 0; i < looked; ++i) {
        if (bytes[i] == '\0') ++(i % 2 == 0 ? zeroEven : zeroOdd);
    }
    if (zeroOdd > looked / 4 && zeroOdd > 2 * zeroEven) return TextEncoding::Utf16Le;
    if (zeroEven > looked / 4 && zeroEven > 2 * zeroOdd) return TextEncoding::Utf16Be;
    return TextEncoding::Utf8;
}

std::string DecodeTraceText(const std::string& bytes) {
    const TextEncoding encoding = DetectEncoding(bytes);
    const bool marked = StartsWith(bytes, "\xFF\xFE", 2) || StartsWith(bytes, "\xFE\xFF", 2);
    if (encoding != TextEncoding::Utf8) {
        return DecodeUtf16(bytes, marked ? 2 : 0, encoding == TextEncoding::Utf16Le);
    }
    std::string text;
    text.reserve(bytes.size());
    const std::size_t from = StartsWith(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if ((c & 0xC0) != 0x80) {
            text += '?';  // one per character: continuation bytes add none
        }
    }
    return text;
}

const char* EncodingName(TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf16Le: return "UTF-16LE";
    case TextEncoding::Utf16Be: return "UTF-16BE";
    case TextEncoding::Utf8: break;
    }
    return "UTF-8";
}

}  // namespace gpio_check
