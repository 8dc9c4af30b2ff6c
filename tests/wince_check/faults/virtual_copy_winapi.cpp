// only: mingw-i686
// expect: conflicting|different calling convention|stdcall
// VirtualCopy is cdecl; declaring it WINAPI (stdcall on x86) would have the
// callee and caller disagree on who pops the arguments.
#include "coredll.h"

extern "C" BOOL WINAPI VirtualCopy(LPVOID lpvDest, LPVOID lpvSrc, DWORD cbSize, DWORD fdwProtect);
