// Where the desktop runtime starts the program. Windows CE's runtime calls
// WinMain with a wide command line; the MinGW runtime of a -municode program
// calls wWinMain with the same four arguments. This hands them on unchanged,
// so app/winmain.cpp is compiled exactly as it is for the device. The CE
// declaration of WinMain comes from the compile checks' stand-in header.

#include "wince_winmain.h"

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                               int showCommand) {
    return WinMain(instance, previousInstance, commandLine, showCommand);
}
