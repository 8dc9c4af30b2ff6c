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
CHECK_IMPORT(NKvDbgPrintfW);
CHECK_IMPORT(LocalAlloc);
CHECK_IMPORT(LocalFree);
CHECK_IMPORT(ExitThread);
