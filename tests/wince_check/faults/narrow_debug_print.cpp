// expect: const char|const wchar_t|no matching function
// The debug print takes wide text only; a narrow literal must not get through.
#include "platform.h"

void Trace() { platform::NKDbgPrintfW("+TolvarGPIOTest\r\n"); }
