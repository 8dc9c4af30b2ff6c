#ifndef WINCE_CHECK_COMPAT_WINCE_WINMAIN_H
#define WINCE_CHECK_COMPAT_WINCE_WINMAIN_H

// For the compile check against desktop Windows headers only; a real build
// uses the Windows CE SDK's own headers and never sees this file.
//
// Desktop winbase.h declares WinMain with a narrow command line, CE's with a
// wide one, and two C functions of one name cannot coexist. This hides the
// desktop declaration and stands in with the one the CE SDK makes.

#define WinMain DesktopNarrowWinMain
#include <windows.h>
#undef WinMain

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine,
                              int nShowCmd);

#endif  // WINCE_CHECK_COMPAT_WINCE_WINMAIN_H
