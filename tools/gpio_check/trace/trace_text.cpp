#include "trace_text.h"

#include <algorithm>
#include <cstdio>

#include "trace_messages.h"

namespace gpio_check {
namespace {

bool StartsWith(const std::string& bytes, const char* prefix, std::size_t length) {
    return bytes.size() >= length && bytes.compare(0, length, prefix, length) == 0;
}

// The byte-order mark of `encoding` at the start of `bytes`, or 0.
std::size_t MarkLength(const std::string& bytes, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf16Le: return StartsWith(bytes, "\xFF\xFE", 2) ? 2 : 0;
    case TextEncoding::Utf16Be: return StartsWith(bytes, "\xFE\xFF", 2) ? 2 : 0;
    case TextEncoding::Utf8: break;
    }
    return StartsWith(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
}

}  // namespace

TextEncoding DetectEncoding(const std::string& bytes) {
    // Two bytes of line noise before the run can look like a byte-order
    // mark (FF FE, FE FF): the encoding is the one the messages read in,
    // whatever the first bytes are.
    const std::string head = bytes.substr(0, kEncodingSniffBytes);
    TextEncoding best = TextEncoding::Utf8;
    std::size_t bestMessages = 0;
    for (const TextEncoding encoding : {TextEncoding::Utf8, TextEncoding::Utf16Le, TextEncoding::Utf16Be}) {
        TraceDecoder decoder(encoding);
        std::string text;
        const std::size_t mark = MarkLength(head, encoding);
        decoder.Add(head.data() + mark, head.size() - mark, text);
        decoder.Finish(text);
        const std::size_t messages = SplitTraceMessages(text).size();
        if (messages > bestMessages) {
            best = encoding;
            bestMessages = messages;
        }
    }
    if (bestMessages > 0) return best;
    // No message yet: ASCII as UTF-16 has a zero in every other byte, odd
    // places for little-endian, even places for big-endian. Text has no
    // zero bytes.
    std::size_t zeroEven = 0, zeroOdd = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '\0') ++(i % 2 == 0 ? zeroEven : zeroOdd);
    }
    if (zeroOdd > head.size() / 4 && zeroOdd > 2 * zeroEven) return TextEncoding::Utf16Le;
    if (zeroEven > head.size() / 4 && zeroEven > 2 * zeroOdd) return TextEncoding::Utf16Be;
    return TextEncoding::Utf8;
}

TraceDecoder::TraceDecoder(TextEncoding encoding) : known_(true), encoding_(encoding) {}

void TraceDecoder::Add(const char* bytes, std::size_t size, std::string& text) {
    if (known_) {
        Decode(bytes, size, text);
        return;
    }
    const std::size_t taken = std::min(size, kEncodingSniffBytes - head_.size());
    head_.append(bytes, taken);
    if (head_.size() < kEncodingSniffBytes) return;
    Settle(text);
    Decode(bytes + taken, size - taken, text);
}

void TraceDecoder::Settle(std::string& text) {
    if (known_) return;
    known_ = true;
    encoding_ = DetectEncoding(head_);
    const std::size_t mark = MarkLength(head_, encoding_);
    Decode(head_.data() + mark, head_.size() - mark, text);
    std::string().swap(head_);
}

void TraceDecoder::Finish(std::string& text) {
    Settle(text);
    // A character the end of the file cut short.
    if (pending_ > 0 || highSurrogate_) Damage(text);
    pending_ = 0;
    highSurrogate_ = false;
}

void TraceDecoder::Damage(std::string& text) {
    ++damaged_;
    text += kNotAscii;
}

void TraceDecoder::Decode(const char* bytes, std::size_t size, std::string& text) {
    if (encoding_ == TextEncoding::Utf8) {
        DecodeUtf8(bytes, size, text);
    } else {
        DecodeUtf16(bytes, size, text);
    }
}

void TraceDecoder::DecodeUtf8(const char* bytes, std::size_t size, std::string& text) {
    std::size_t i = 0;
    while (i < size) {
        if (pending_ == 0) {
            std::size_t ascii = i;
            while (ascii < size && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
            text.append(bytes + i, ascii - i);
            i = ascii;
            if (i == size) break;
        }
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (pending_ > 0) {
            if (byte >= low_ && byte <= high_) {
                low_ = 0x80;
                high_ = 0xBF;
                if (--pending_ == 0) text += kNotAscii;  // a whole character
                ++i;
                continue;
            }
            // The sequence breaks off: damage, and this byte starts afresh.
            pending_ = 0;
            low_ = 0x80;
            high_ = 0xBF;
            Damage(text);
            continue;
        }
        ++i;
        if (byte >= 0xC2 && byte <= 0xDF) {
            pending_ = 1;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            pending_ = 2;
            if (byte == 0xE0) low_ = 0xA0;   // no overlong form
            if (byte == 0xED) high_ = 0x9F;  // no surrogate
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            pending_ = 3;
            if (byte == 0xF0) low_ = 0x90;
            if (byte == 0xF4) high_ = 0x8F;  // nothing past U+10FFFF
        } else {
            Damage(text);  // a stray continuation byte, or one never in UTF-8
        }
    }
}

void TraceDecoder::DecodeUtf16(const char* bytes, std::size_t size, std::string& text) {
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
        const bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (highSurrogate_ && !low) Damage(text);  // a high half with no low one
        if (low && !highSurrogate_) {
            Damage(text);  // a low half with no high one
        } else if (low) {
            text += kNotAscii;  // the pair: one character
        } else if (!high) {
            text += unit < 0x80 ? static_cast<char>(unit) : kNotAscii;
        }
        highSurrogate_ = high;
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
