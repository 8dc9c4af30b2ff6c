#ifndef WINCE_RUN_COREDLL_STANDIN_H
#define WINCE_RUN_COREDLL_STANDIN_H

// What the stand-in coredll.dll does behind its entry points: it checks each
// call as a Windows CE 4.0 kernel would need it, records it with its
// arguments on standard error, and at process exit reports what was left and
// prints a one-line summary there. Standard output carries the debug print
// only, so it is the program's trace and nothing else.
//
// COREDLL_REFUSE=VirtualAlloc or COREDLL_REFUSE=VirtualCopy in the
// environment makes that call fail (after its checks), as a device may.

#include <cstdarg>
#include <cstdint>

namespace standin {

void* VirtualAlloc(void* address, std::uint32_t size, std::uint32_t allocationType, std::uint32_t protect);
bool VirtualCopy(void* destination, void* source, std::uint32_t size, std::uint32_t protect);
bool VirtualFree(void* address, std::uint32_t size, std::uint32_t freeType);
void Sleep(std::uint32_t milliseconds);
void DebugPrint(const wchar_t* format, va_list arguments);

}  // namespace standin

#endif  // WINCE_RUN_COREDLL_STANDIN_H
