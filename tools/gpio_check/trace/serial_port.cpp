#include "serial_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace gpio_check {
namespace {

struct Speed {
    unsigned baud;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(unsigned baud, speed_t& code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.baud == baud) {
            code = speed.code;
            return true;
        }
    }
    return false;
}

// What the signal handler needs to put the port back: one port at a time.
int g_port = -1;
struct termios g_saved;
struct sigaction g_previous[NSIG];
bool g_chained[NSIG];

extern "C" void RestorePortAndGoOn(int signalNumber) {
    if (g_port >= 0) tcsetattr(g_port, TCSANOW, &g_saved);  // async-signal-safe
    const struct sigaction& previous = g_previous[signalNumber];
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signalNumber);  // the output files' clean-up, which then ends the process
        return;
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// Ahead of every handler already in place for a signal that ends the
// process (the output files' clean-up), and of the usual ending signals.
void ChainSignals() {
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (g_chained[signalNumber] || signalNumber == SIGKILL || signalNumber == SIGSTOP) continue;
        struct sigaction previous {};
        if (sigaction(signalNumber, nullptr, &previous) != 0) continue;
        const bool ending = signalNumber == SIGHUP || signalNumber == SIGINT || signalNumber == SIGQUIT ||
                            signalNumber == SIGTERM || signalNumber == SIGPIPE;
        const bool handled = previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
                             (previous.sa_flags & SA_SIGINFO) == 0;
        if (previous.sa_handler == SIG_IGN || (!handled && !ending)) continue;
        g_previous[signalNumber] = previous;
        struct sigaction action {};
        action.sa_handler = RestorePortAndGoOn;
        sigfillset(&action.sa_mask);
        if (sigaction(signalNumber, &action, nullptr) == 0) g_chained[signalNumber] = true;
    }
}

// The terminal someone types the checker's command on: its session's
// controlling terminal (however named: /dev/tty, /dev/pts/3), or the one its
// standard input, output or error is. Made raw, it would take their keys.
bool IsOwnTerminal(int fd) {
    const pid_t session = ::tcgetsid(fd);  // only for the caller's own controlling terminal
    if (session >= 0 && session == ::getsid(0)) return true;
    struct stat port {};
    if (::fstat(fd, &port) != 0 || !S_ISCHR(port.st_mode)) return false;
    for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
        struct stat status {};
        if (::isatty(standard) && ::fstat(standard, &status) == 0 && S_ISCHR(status.st_mode) &&
            status.st_rdev == port.st_rdev) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsSupportedBaud(unsigned baud) {
    speed_t code;
    return SpeedCode(baud, code);
}

bool SerialPort::Open(const std::string& path, unsigned baud, std::string& error, bool* noTerminal) {
    Close();
    if (noTerminal != nullptr) *noTerminal = false;
    speed_t speed;
    if (!SpeedCode(baud, speed)) {
        error = "--baud " + std::to_string(baud) + ": no speed a serial port can be set to";
        return false;
    }
    // Non-blocking: a port whose modem lines say "no carrier" would
    // otherwise hold the open; reads wait in poll() instead.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    struct termios saved {};
    if (::tcgetattr(fd, &saved) != 0) {
        const int why = errno;
        ::close(fd);
        if (noTerminal != nullptr) *noTerminal = why == ENOTTY;
        error = "'" + path + "' is no terminal: " + std::strerror(why) +
                " (--baud and --quiet-after are for a serial port; a file or a pipe is read as it is)";
        return false;
    }
    if (IsOwnTerminal(fd)) {
        ::close(fd);
        error = "'" + path + "' is this checker's own terminal, not the board's port: it is left as it is " +
                "(give the board's serial port, e.g. /dev/ttyUSB0, or a saved trace)";
        return false;
    }
    struct termios raw = saved;
    ::cfmakeraw(&raw);
    raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    raw.c_cflag |= CS8 | CREAD | CLOCAL;  // 8N1, the modem lines ignored
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::cfsetispeed(&raw, speed);
    ::cfsetospeed(&raw, speed);
    // Saved for the signal handler before the port changes, with every
    // signal held off so none sees it half set.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    g_saved = saved;
    g_port = fd;
    ChainSignals();
    const bool set = ::tcsetattr(fd, TCSANOW, &raw) == 0;
    const int why = errno;
    if (!set) g_port = -1;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (!set) {
        ::tcsetattr(fd, TCSANOW, &saved);
        ::close(fd);
        error = "cannot set up '" + path + "' at " + std::to_string(baud) + " Bd: " + std::strerror(why);
        return false;
    }
    fd_ = fd;
    return true;
}

void SerialPort::Close() {
    if (fd_ < 0) return;
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    ::tcsetattr(fd_, TCSANOW, &g_saved);
    g_port = -1;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace gpio_check
