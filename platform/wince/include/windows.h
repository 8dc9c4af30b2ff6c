#ifndef PLATFORM_WINCE_OWN_WINDOWS_H
#define PLATFORM_WINCE_OWN_WINDOWS_H

// The few Windows CE 4.0 types, constants and COREDLL calls this program
// uses, declared as Microsoft documents them for CE (CE 5.0 reference pages:
// VirtualAlloc, VirtualFree, Sleep, LocalAlloc, LocalFree, ExitThread,
// WinMain). Only the build with Debian's gcc-arm-none-eabi, which has no
// Windows headers, sees this file as <windows.h>; the compile checks hold it
// against MinGW's declarations.
//
// Self-contained on purpose (no #include), so that the check can read it
// inside a namespace of its own next to another SDK's <windows.h>.

#ifndef WINAPI
#define WINAPI  // CE on ARM has a single calling convention
#endif
#ifndef VOID
#define VOID void
#endif

typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef void* LPVOID;
typedef void* HANDLE;
typedef HANDLE HLOCAL;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef struct HINSTANCE__ { int unused; }* HINSTANCE;

#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define PAGE_NOACCESS 0x01
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define LMEM_FIXED 0

// C linkage, unless the declaration check reads this file in a namespace.
#ifndef CE_API_LINKAGE_BEGIN
#define CE_API_LINKAGE_BEGIN extern "C" {
#define CE_API_LINKAGE_END }
#endif

CE_API_LINKAGE_BEGIN
LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, DWORD dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL WINAPI VirtualFree(LPVOID lpAddress, DWORD dwSize, DWORD dwFreeType);
VOID WINAPI Sleep(DWORD dwMilliseconds);
HLOCAL WINAPI LocalAlloc(UINT uFlags, UINT uBytes);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
VOID WINAPI ExitThread(DWORD dwExitCode);
// Defined by the program; CE's command line is wide.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);
CE_API_LINKAGE_END

#endif  // PLATFORM_WINCE_OWN_WINDOWS_H
