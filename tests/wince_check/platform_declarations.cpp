// The backend declares two COREDLL functions itself. Here they meet the
// declarations the platform's own headers make (pkfuncs.h, dbgapi.h): a
// compiler accepts the pair only if both agree in linkage, calling
// convention, return and parameter types.

#include "coredll.h"

extern "C" {
BOOL VirtualCopy(LPVOID lpvDest, LPVOID lpvSrc, DWORD cbSize, DWORD fdwProtect);
void WINAPIV NKDbgPrintfW(LPCWSTR lpszFmt, ...);
}
