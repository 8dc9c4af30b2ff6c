#ifndef TOOLS_GPIO_CHECK_TRACE_TEXT_H
#define TOOLS_GPIO_CHECK_TRACE_TEXT_H

// The bytes of a saved trace as text. A serial terminal saves what the
// port carried (UTF-8, which for this program is ASCII); a debugger's
// output window on Windows often saves UTF-16, little- or big-endian, with
// or without a byte-order mark.

#include <cstddef>
#include <cstdint>
#include <string>

namespace gpio_check {

enum class TextEncoding { Utf8, Utf16Le, Utf16Be };

// How many leading bytes the encoding is judged by.
constexpr std::size_t kEncodingSniffBytes = 4096;

// The encoding in which the first kEncodingSniffBytes hold the most of the
// program's messages, else by where the zero bytes fall in them: a
// byte-order mark alone decides nothing, as line noise can make one.
TextEncoding DetectEncoding(const std::string& bytes);

// What a character outside ASCII becomes: no message of the program holds
// one, so it stands between messages, as a space does, and cannot hide one
// it is glued to. Line noise on a serial port is such bytes.
constexpr char kNotAscii = '\x1a';  // ASCII's SUB(stitute)

// Bytes to text a block at a time, so that a file or a pipe is read once
// and never held whole: any byte-order mark is removed, and characters
// outside ASCII become kNotAscii. Bytes that are no text in the encoding
// (not UTF-8, a lone UTF-16 surrogate) are counted as damage.
class TraceDecoder {
public:
    TraceDecoder() = default;
    // A decoder told the encoding: it keeps no bytes back, removes no mark.
    explicit TraceDecoder(TextEncoding encoding);

    // Appends to `text` what the bytes decode to; the first bytes are held
    // back until the encoding is known.
    void Add(const char* bytes, std::size_t size, std::string& text);
    // The end of the bytes: decodes whatever was held back.
    void Finish(std::string& text);
    TextEncoding Encoding() const { return encoding_; }
    // Characters that were no text in the encoding: line noise, or a file
    // damaged otherwise.
    std::uint64_t Damaged() const { return damaged_; }

private:
    // Decides the encoding from the first bytes and decodes them.
    void Settle(std::string& text);
    void Decode(const char* bytes, std::size_t size, std::string& text);
    void DecodeUtf8(const char* bytes, std::size_t size, std::string& text);
    void DecodeUtf16(const char* bytes, std::size_t size, std::string& text);
    void Damage(std::string& text);

    std::string head_;  // the first bytes, until the encoding is known
    bool known_ = false;
    TextEncoding encoding_ = TextEncoding::Utf8;
    std::string half_;  // the first byte of a UTF-16 unit split between blocks
    // A UTF-8 sequence under way: continuation bytes still to come, and the
    // range the next one must lie in (no overlong forms, no surrogates).
    int pending_ = 0;
    unsigned char low_ = 0x80, high_ = 0xBF;
    bool highSurrogate_ = false;  // a UTF-16 high surrogate waits for its low half
    std::uint64_t damaged_ = 0;
};

// The whole text of `bytes` at once.
std::string DecodeTraceText(const std::string& bytes);

const char* EncodingName(TextEncoding encoding);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_TRACE_TEXT_H
