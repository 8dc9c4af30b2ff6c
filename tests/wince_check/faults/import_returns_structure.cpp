// expect: passes or returns a 64-bit value or a structure
// CE returns a structure through memory; gcc returns a small one in r0.
#include "import_abi.h"

struct Extent {
    short width;
    short height;
};
extern "C" Extent GetScreenExtent();
CHECK_IMPORT(GetScreenExtent);
