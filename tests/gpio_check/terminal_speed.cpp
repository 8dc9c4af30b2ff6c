// The kernel's own number for a terminal's speed, through termios2: the
// termios calls only give back the Bnnn code a program set, so a wrong
// code in a table would read back as itself.

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace port_test {

long TerminalSpeed(int fd) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) return -1;
    return static_cast<long>(settings.c_ispeed);
}

}  // namespace port_test
