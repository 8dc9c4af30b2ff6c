// expect: conflicting|differ only in their return type
// The platform's VirtualCopy returns BOOL; a declaration that says otherwise
// must not pass alongside the backend's.
#include "coredll.h"

extern "C" DWORD VirtualCopy(LPVOID lpvDest, LPVOID lpvSrc, DWORD cbSize, DWORD fdwProtect);
