// The static check of import_abi.h over every call the program imports
// from COREDLL (platform/wince/coredll_imports.S lists the same calls).

#include "platform.h"
// After platform.h: see coredll.h.
#include "coredll.h"
#include "import_abi.h"

CHECK_IMPORT(VirtualAlloc);
CHECK_IMPORT(VirtualCopy);
CHECK_IMPORT(VirtualFree);
CHECK_IMPORT(Sleep);
CHECK_IMPORT(NKDbgPrintfW);
CHECK_IMPORT(LocalAlloc);
CHECK_IMPORT(LocalFree);
CHECK_IMPORT(ExitThread);

// The values behind those pointers and integers must be laid out as CE lays
// them out too: its text is UTF-16 and its enums are int-sized
// (gcc-arm-none-eabi needs -fshort-wchar and -fno-short-enums for both).
enum PlainEnum { kPlainEnumOnly };
static_assert(sizeof(wchar_t) == 2, "CE's wide text is UTF-16: wchar_t must be 2 bytes");
static_assert(sizeof(PlainEnum) == sizeof(int), "CE's enums are the size of an int");
