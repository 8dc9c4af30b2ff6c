// expect: passes or returns a 64-bit value or a structure
// A 64-bit argument sits on 4 bytes' alignment under CE, on 8 under AAPCS.
#include "import_abi.h"

extern "C" int SetFilePosition(void* file, long long position);
CHECK_IMPORT(SetFilePosition);
