// The entry points of the stand-in coredll.dll, declared as Windows CE 4.0
// declares them: WINAPI (stdcall) for VirtualAlloc, VirtualFree and Sleep,
// the default cdecl for VirtualCopy (pkfuncs.h) and NKvDbgPrintfW (dbgapi.h).
// coredll.def exports each under CE's name.

#include <windows.h>

#include <cstdarg>

#include "coredll_standin.h"

extern "C" {

LPVOID WINAPI StandInVirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    return standin::VirtualAlloc(address, size, allocationType, protect);
}

BOOL StandInVirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    return standin::VirtualCopy(destination, source, size, protect) ? TRUE : FALSE;
}

BOOL WINAPI StandInVirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    return standin::VirtualFree(address, size, freeType) ? TRUE : FALSE;
}

void WINAPI StandInSleep(DWORD milliseconds) { standin::Sleep(milliseconds); }

void StandInNKvDbgPrintfW(LPCWSTR format, va_list arguments) { standin::DebugPrint(format, arguments); }

}  // extern "C"
