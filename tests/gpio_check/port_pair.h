#ifndef TESTS_GPIO_CHECK_PORT_PAIR_H
#define TESTS_GPIO_CHECK_PORT_PAIR_H

// A pseudo-terminal pair standing for the board's debug serial port: the
// checker opens the terminal side as its port, the test writes the board's
// bytes into the other side. And the checker run as its own process with
// its output collected, its standard error on a terminal of its own so
// that it shows its progress line.

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace port_test {

using Clock = std::chrono::steady_clock;

class PortPair {
public:
    PortPair();
    ~PortPair();
    bool ok() const { return board_ >= 0 && port_ >= 0; }
    const std::string& Name() const { return name_; }
    // The settings a port has before the checker opens it: a terminal's
    // usual cooked mode at 9600 Bd.
    const struct termios& Before() const { return before_; }
    // The port's settings now; false once it has hung up.
    bool Settings(struct termios& now) const;
    // True once the checker has put the port in raw mode.
    bool WaitUntilRaw(double seconds) const;
    void Write(const std::string& bytes) const;
    // The board side closed: the port hangs up.
    void HangUp();
    // The port's speed as the kernel holds it, in Bd (a number, not a Bnnn code).
    long Speed() const;

private:
    int board_ = -1;
    int port_ = -1;  // held open so the settings can be read after the checker
    std::string name_;
    struct termios before_ {};
};

// How the program is started: by default standard input is /dev/null, it
// has no controlling terminal of its own and COLUMNS is not set.
struct RunSetup {
    std::string terminal;           // standard input, in a session of its own
    bool controlling = false;       // the terminal made that session's controlling terminal
    unsigned short columns = 0;     // standard error's terminal's width (0: not known)
    std::string columnsVariable;    // COLUMNS, or "" for none
    std::string directory;          // the working directory, or "" for the test's
};

// The checker (or any program) running, standard output in a pipe and
// standard error on a pseudo-terminal, both collected as they come.
class Run {
public:
    explicit Run(const std::vector<std::string>& arguments, const RunSetup& setup = RunSetup());
    ~Run();
    void Interrupt() const;
    void Signal(int signalNumber) const;
    // Not ended yet (the end is left to Wait).
    bool Running() const;
    // The exit code, or -1 when it did not end within `seconds` (it is then killed).
    int Wait(double seconds);
    Clock::time_point EndedAt() const { return ended_; }
    // User and system CPU seconds the run took, once it has ended.
    double CpuSeconds() const;
    const std::string& Output() const { return output_; }
    const std::string& Errors() const { return errors_; }
    // The last state of the progress line: what follows its last '\r'.
    std::string LastProgress() const;

private:
    pid_t pid_ = -1;
    int outRead_ = -1;
    int errBoard_ = -1;
    std::thread collector_;
    std::string output_, errors_;
    Clock::time_point ended_{};
    struct rusage usage_ {};
};

// The messages of a trace as the program printed them, each with its line end.
std::vector<std::string> TracePieces(const std::string& trace);

// The speed the kernel holds for a terminal, in Bd; -1 when it cannot be read.
long TerminalSpeed(int fd);

// Sleep, done in steps of at most 10 ms so that short ones are short.
void Pause(double seconds);

}  // namespace port_test

#endif  // TESTS_GPIO_CHECK_PORT_PAIR_H
