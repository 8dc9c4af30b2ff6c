#include "trace_text.h"

#include <algorithm>
#include <cstdio>

namespace gpio_check {
namespace {

bool StartsWith(const std::string& bytes, const char* prefix, std::size_t length) {
    return bytes.size() >= length && bytes.compare(0, length, prefix, length) == 0;
}

}  // namespace

TextEncoding DetectEncoding(const std::string& bytes) {
    if (StartsWith(bytes, "\xFF\xFE", 2)) return TextEncoding::Utf16Le;
    if (StartsWith(bytes, "\xFE\xFF", 2)) return TextEncoding::Utf16Be;
    // ASCII as UTF-16 has a zero in every other byte: odd places for
    // little-endian, even places for big-endian. Text has no zero bytes.
    std::size_t zeroEven = 0, zeroOdd = 0;
    const std::size_t looked = std::min(bytes.size(), kEncodingSniffBytes);
    for (std::size_t i = 0; i < looked; ++i) {
        if (bytes[i] == '\0') ++(i % 2 == 0 ? zeroEven : zeroOdd);
    }
    if (zeroOdd > looked / 4 && zeroOdd > 2 * zeroEven) return TextEncoding::Utf16Le;
    if (zeroEven > looked / 4 && zeroEven > 2 * zeroOdd) return TextEncoding::Utf16Be;
    return TextEncoding::Utf8;
}

void TraceDecoder::Add(const char* bytes, std::size_t size, std::string& text) {
    if (known_) {
        Decode(bytes, size, text);
        return;
    }
    const std::size_t taken = std::min(size, kEncodingSniffBytes - head_.size());
    head_.append(bytes, taken);
    if (head_.size() < kEncodingSniffBytes) return;
    Finish(text);
    Decode(bytes + taken, size - taken, text);
}

void TraceDecoder::Finish(std::string& text) {
    if (known_) return;
    known_ = true;
    encoding_ = DetectEncoding(head_);
    std::size_t mark = 0;
    if (StartsWith(head_, "\xFF\xFE", 2) || StartsWith(head_, "\xFE\xFF", 2)) {
        mark = 2;
    } else if (encoding_ == TextEncoding::Utf8 && StartsWith(head_, "\xEF\xBB\xBF", 3)) {
        mark = 3;
    }
    Decode(head_.data() + mark, head_.size() - mark, text);
    std::string().swap(head_);
}

void TraceDecoder::Decode(const char* bytes, std::size_t size, std::string& text) {
    if (encoding_ == TextEncoding::Utf8) {
        std::size_t i = 0;
        while (i < size) {
            std::size_t ascii = i;
            while (ascii < size && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
            text.append(bytes + i, ascii - i);
            if (ascii == size) break;
            // One '?' a character: continuation bytes add none.
            if ((static_cast<unsigned char>(bytes[ascii]) & 0xC0) != 0x80) text += '?';
            i = ascii + 1;
        }
        return;
    }
    const bool littleEndian = encoding_ == TextEncoding::Utf16Le;
    std::size_t i = 0;
    // A last odd byte at the very end is half a character cut off by the
    // end of the file, and is dropped.
    while (i < size) {
        if (half_.empty() && i + 1 >= size) {
            half_ = bytes[i++];
            break;
        }
        const unsigned first = static_cast<unsigned char>(half_.empty() ? bytes[i++] : half_[0]);
        const unsigned second = static_cast<unsigned char>(bytes[i++]);
        half_.clear();
        const unsigned unit = littleEndian ? (first | second << 8) : (first << 8 | second);
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
}

std::string DecodeTraceText(const std::string& bytes) {
    TraceDecoder decoder;
    std::string text;
    decoder.Add(bytes.data(), bytes.size(), text);
    decoder.Finish(text);
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
