#include "platform.h"
// After platform.h: see coredll.h.
#include "coredll.h"

namespace platform {

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
