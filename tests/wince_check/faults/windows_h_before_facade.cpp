// expect: expected unqualified-id
// <windows.h> makes MEM_RESERVE and the other constants macros, so a file
// that includes it ahead of the platform header does not compile: it stays
// in the backend's own .cpp files.
#include <windows.h>

#include "platform.h"
