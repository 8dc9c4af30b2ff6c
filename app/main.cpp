// Process entry where the program starts at main: the host, and a board
// with no operating system.

#include "TolvarGPIOTest.h"

int main() { return TolvarGPIOTest(nullptr, nullptr, nullptr, 0); }
