// Process entry on Windows CE. The command line is wide there: CE has no
// narrow WinMain. The program takes no input, so none of the arguments is read.

#include <windows.h>

#include "TolvarGPIOTest.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand) {
    return TolvarGPIOTest(instance, previousInstance, commandLine, showCommand);
}
