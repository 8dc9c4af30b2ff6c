// compat: yes
// expect: conflicting|LPSTR|char
// Windows CE has no narrow command line; an entry taking LPSTR must not pass.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
