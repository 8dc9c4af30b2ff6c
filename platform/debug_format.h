#ifndef PLATFORM_DEBUG_FORMAT_H
#define PLATFORM_DEBUG_FORMAT_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace platform {

// Renders a wide printf-style debug message as UTF-8 into `out`, which is
// always NUL-terminated (when capacity > 0). Understands %i %d %u %x %X and
// %%, with the '0' and '-' flags and a width, and %s, wide text (no width);
// integer arguments are 32 bits. Anything else is copied as it stands.
// Returns the number of bytes written, without the NUL; output that does not
// fit is cut at a whole character. Needs no heap and no locale, so every
// backend can use it.
std::size_t FormatDebugMessage(char* out, std::size_t capacity, const wchar_t* format,
                               std::va_list args);

// The same into wide text (UTF-16 where wchar_t is 2 bytes, as on Windows
// CE): `capacity` and the result count wchar_t units.
std::size_t FormatDebugMessageWide(wchar_t* out, std::size_t capacity, const wchar_t* format,
                                   std::va_list args);

// The same for a Windows CE caller into UTF-8: UTF-16 text (surrogate pairs
// joined), %s taking UTF-16 text.
std::size_t FormatDebugMessage16(char* out, std::size_t capacity, const char16_t* format,
                                 std::va_list args);

// The arguments of a C variadic call made elsewhere (another processor's
// registers and stack), handed out one 32-bit word at a time; %s text is
// fetched by the source, which owns it until the next call.
class DebugArguments16 {
public:
    virtual std::uint32_t Next() = 0;
    virtual const char16_t* NextText() = 0;

protected:
    ~DebugArguments16() = default;
};

std::size_t FormatDebugMessage16(char* out, std::size_t capacity, const char16_t* format,
                                 DebugArguments16& args);

}  // namespace platform

#endif  // PLATFORM_DEBUG_FORMAT_H
