// Debug print: the kernel's debug output (the serial port or Platform
// Builder's debug window, depending on the image).

#include <cstdarg>

#include "platform.h"
// After platform.h: see coredll.h.
#include "coredll.h"

namespace platform {

// Forwarded as it stands to NKvDbgPrintfW, which is what NKDbgPrintfW does
// with its own arguments. The kernel renders the format, so the text is
// exactly what the device's debug print makes of it, with no second formatter
// and no buffer on this side. The kernel renders into a buffer of 128
// characters, so every message must stay below that; the program's messages
// are fixed, and the longest renders to 36.
void NKDbgPrintfW(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    ::NKvDbgPrintfW(format, args);
    va_end(args);
}

}  // namespace platform
