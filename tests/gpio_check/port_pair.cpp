#include "port_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace port_test {

PortPair::PortPair() {
    char name[256];
    if (openpty(&board_, &port_, name, nullptr, nullptr) != 0) return;
    name_ = name;
    // Not inherited by the checker: the board side must close when the test closes it.
    fcntl(board_, F_SETFD, FD_CLOEXEC);
    fcntl(port_, F_SETFD, FD_CLOEXEC);
    struct termios cooked {};
    tcgetattr(port_, &cooked);
    cfsetispeed(&cooked, B9600);
    cfsetospeed(&cooked, B9600);
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_iflag |= ICRNL | IXON;
    tcsetattr(port_, TCSANOW, &cooked);
    tcgetattr(port_, &before_);
}

PortPair::~PortPair() {
    if (board_ >= 0) close(board_);
    if (port_ >= 0) close(port_);
}

bool PortPair::Settings(struct termios& now) const { return tcgetattr(port_, &now) == 0; }

bool PortPair::WaitUntilRaw(double seconds) const {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        struct termios now {};
        if (Settings(now) && (now.c_lflag & ICANON) == 0) return true;
        Pause(0.002);
    }
    return false;
}

void PortPair::Write(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(board_, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        done += static_cast<std::size_t>(wrote);
    }
}

long PortPair::Speed() const { return TerminalSpeed(port_); }

void PortPair::HangUp() {
    if (board_ >= 0) close(board_);
    board_ = -1;
}

Run::Run(const std::vector<std::string>& arguments, const RunSetup& setup) {
    int out[2];
    int errPort = -1;
    struct winsize size {};
    size.ws_col = setup.columns;
    size.ws_row = setup.columns != 0 ? 24 : 0;
    if (pipe2(out, O_CLOEXEC) != 0 || openpty(&errBoard_, &errPort, nullptr, nullptr, &size) != 0) return;
    fcntl(errBoard_, F_SETFD, FD_CLOEXEC);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(errPort, STDERR_FILENO);
        if (setup.terminal.empty()) {
            dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        } else {
            // A session leader opening a terminal without O_NOCTTY makes it its own.
            setsid();
            dup2(open(setup.terminal.c_str(), O_RDWR | (setup.controlling ? 0 : O_NOCTTY)), STDIN_FILENO);
        }
        if (setup.columnsVariable.empty()) {
            unsetenv("COLUMNS");
        } else {
            setenv("COLUMNS", setup.columnsVariable.c_str(), 1);
        }
        if (!setup.directory.empty() && chdir(setup.directory.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(errPort);
    outRead_ = out[0];
    collector_ = std::thread([this] {
        struct pollfd watch[2] = {{outRead_, POLLIN, 0}, {errBoard_, POLLIN, 0}};
        std::string* into[2] = {&output_, &errors_};
        int open = 2;
        char block[4096];
        while (open > 0) {
            if (poll(watch, 2, -1) < 0 && errno != EINTR) return;
            for (int i = 0; i < 2; ++i) {
                if (watch[i].fd < 0 || watch[i].revents == 0) continue;
                const ssize_t got = read(watch[i].fd, block, sizeof block);
                if (got > 0) {
                    into[i]->append(block, static_cast<std::size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    watch[i].fd = -1;  // the end, or the terminal's other side gone (EIO)
                    --open;
                }
            }
        }
    });
}

Run::~Run() {
    if (pid_ > 0) Wait(0);
    if (collector_.joinable()) collector_.join();
    if (outRead_ >= 0) close(outRead_);
    if (errBoard_ >= 0) close(errBoard_);
}

void Run::Interrupt() const { Signal(SIGINT); }

void Run::Signal(int signalNumber) const {
    if (pid_ > 0) kill(pid_, signalNumber);
}

bool Run::Running() const {
    if (pid_ <= 0) return false;
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

int Run::Wait(double seconds) {
    if (pid_ <= 0) return -1;
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    for (;;) {
        const pid_t done = wait4(pid_, &status, WNOHANG, &usage_);
        if (done == pid_) break;
        if (Clock::now() >= until) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            if (collector_.joinable()) collector_.join();
            return -1;
        }
        Pause(0.0005);
    }
    ended_ = Clock::now();
    pid_ = -1;
    if (collector_.joinable()) collector_.join();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double Run::CpuSeconds() const {
    const auto seconds = [](const struct timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage_.ru_utime) + seconds(usage_.ru_stime);
}

std::string Run::LastProgress() const {
    std::string line = errors_;
    const auto end = line.find_last_not_of("\r\n \b");
    line.erase(end == std::string::npos ? 0 : end + 1);
    const auto start = line.find_last_of('\r');
    return start == std::string::npos ? line : line.substr(start + 1);
}

std::vector<std::string> TracePieces(const std::string& trace) {
    std::vector<std::string> pieces;
    std::string piece;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        piece += trace[i];
        const bool end = trace[i] == '\n' || (trace[i] == '\r' && (i + 1 >= trace.size() || trace[i + 1] != '\n'));
        if (end) pieces.push_back(std::move(piece)), piece.clear();
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

void Pause(double seconds) {
    const Clock::time_point until =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < until) {
        const Clock::duration left = until - Clock::now();
        std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(10)));
    }
}

}  // namespace port_test
