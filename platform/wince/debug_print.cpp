// Debug print: the kernel's debug output (the serial port or Platform
// Builder's debug window, depending on the image).

#include <cstdarg>
#include <cstddef>

#include "debug_format.h"
#include "platform.h"
// After platform.h: see coredll.h.
#include "coredll.h"

namespace platform {
namespace {

// NKDbgPrintfW renders into a buffer of 128 characters, its terminating null
// among them: a longer message would be cut or lost on the device.
constexpr std::size_t kDebugPrintCharacters = 128;

}  // namespace

// Rendered here, by the project's own formatter, into CE's 128 characters,
// and handed to NKDbgPrintfW as its one argument: the program binds only the
// documented NKDbgPrintfW, and the text is what every backend prints.
void NKDbgPrintfW(const wchar_t* format, ...) {
    wchar_t text[kDebugPrintCharacters];
    va_list args;
    va_start(args, format);
    FormatDebugMessageWide(text, kDebugPrintCharacters, format, args);
    va_end(args);
    ::NKDbgPrintfW(L"%s", text);
}

}  // namespace platform
