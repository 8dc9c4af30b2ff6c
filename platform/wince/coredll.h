#ifndef PLATFORM_WINCE_COREDLL_H
#define PLATFORM_WINCE_COREDLL_H

// The Windows CE core library as this backend calls it.
//
// Include it only from this backend's .cpp files, and only after everything
// that names the platform constants of platform.h: <windows.h> defines
// MEM_RESERVE, PAGE_NOACCESS and the rest as macros, which would turn
// platform::MEM_RESERVE into platform::0x2000.

#ifndef _WIN32_WCE
#error "platform/wince builds for Windows CE only: define _WIN32_WCE (0x400 for CE 4.0)"
#endif

#include <stdarg.h>
#include <windows.h>

// From pkfuncs.h, which application SDKs do not ship. Declared as the
// platform declares it: C linkage, default (cdecl) calling convention, no
// WINAPI. With PAGE_PHYSICAL, lpvSrc is the physical address shifted right by 8.
extern "C" BOOL VirtualCopy(LPVOID lpvDest, LPVOID lpvSrc, DWORD cbSize, DWORD fdwProtect);

// dbgapi.h: the kernel's debug print, exported by COREDLL (CE 2.10 and
// later). Its arguments follow the format as in any C variadic call.
extern "C" void NKDbgPrintfW(LPCWSTR lpszFmt, ...);

// CE's winnt.h has it; desktop headers give 0x400 another meaning
// (PAGE_WRITECOMBINE), which is why it is only ever defined for CE.
#ifndef PAGE_PHYSICAL
#define PAGE_PHYSICAL 0x400
#endif

#endif  // PLATFORM_WINCE_COREDLL_H
