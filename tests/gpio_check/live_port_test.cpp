// pxa-gpio-check reading the trace from a serial port as the run goes: a
// pseudo-terminal stands for the port, the test writes the board's bytes
// into it at a real board's pace (a hundred times faster), and watches the
// checker's exit code, report, progress line and the port's settings after.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "live_trace.h"
#include "port_pair.h"
#include "progress_line.h"
#include "serial_port.h"

namespace {

using port_test::Clock;

// A board's pace scaled down: a write step's 500 ms becomes 5 ms, a
// sample's 12 ms 0.12 ms.
constexpr double kScale = 0.01;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Temporary(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/live_port_test." + std::to_string(getpid()) + "." + name;
}

// The simulated board's healthy run, its lines driven low in the read
// phase so that the capture shows them: its trace, and its VCD, removed
// when the tests end.
struct Run {
    std::string trace;
    std::string vcdPath;
    ~Run() {
        if (!vcdPath.empty()) std::remove(vcdPath.c_str());
    }
};

const Run& HealthyRun() {
    static Run run;
    static const bool made = [] {
        const std::string trace = Temporary("run.txt");
        run.vcdPath = Temporary("run.vcd");
        const std::string command = std::string(PXA_GPIO_SIM) +
                                    " --clock simulated --drive GPIO33=low@60 --drive GPIO80=low@60 --trace " +
                                    trace + " --vcd " + run.vcdPath + " >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0);
        run.trace = ReadFile(trace);
        std::remove(trace.c_str());
        return true;
    }();
    (void)made;
    return run;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

enum class Pace { AtOnce, Board };

// The trace written into the port: the healthy run's, or with GPIO80's
// direction bit not setting (the line cannot be made an output).
enum class Board { Healthy, Gpio80NoOutput };

std::string TraceOf(Board board) {
    const std::string healthy = HealthyRun().trace;
    if (board == Board::Healthy) return healthy;
    return Replaced(healthy, "GPDR2 changed from 0x00000000 to 0x00010000",
                    "GPDR2 changed from 0x00000000 to 0x00000000");
}

struct LiveCase {
    const char* name;
    Board board;
    Pace pace;
    int stopAtStep;      // the last write step sent, 0: the whole trace
    bool hangUpAfter;    // the board side closed after the bytes
    std::vector<std::string> options;  // "CAPTURE": the healthy run's VCD
    int exitCode;
    std::string report;    // a piece of the report
    std::string progress;  // a piece of the progress line's last state
    double silentBefore = 0;       // seconds the port stays silent before the run
    unsigned short columns = 0;    // standard error's terminal's width, 0: not known
    std::string columnsVariable = "";  // COLUMNS, or none
};

// Characters, not bytes.
std::size_t Characters(const std::string& text) {
    std::size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

void PrintTo(const LiveCase& c, std::ostream* out) { *out << c.name; }

// Made without running anything: the runs are made when a case runs,
// not when the tests are listed.
std::vector<LiveCase> Cases() {
    return {
        {"whole_at_once_with_capture", Board::Healthy, Pace::AtOnce, 0, false, {"--capture", "CAPTURE"}, 0,
         "verdict                  ok", "done: sample 600 of 600"},
        {"whole_at_board_pace", Board::Healthy, Pace::Board, 0, false, {"--baud", "921600"}, 3,
         "serial port at 921600 Bd, read until the run's closing message", "done: sample 600 of 600"},
        {"quiet_after_step_37", Board::Healthy, Pace::Board, 37, false, {}, 3, "ends after write step 37 of 120",
         "write phase: step 37 of 120"},
        {"stuck_line", Board::Gpio80NoOutput, Pace::Board, 0, false, {}, 1, "GPIO80 could not be made an output",
         "FAULT: GPDR2 did not take its update"},
        {"hang_up_mid_run", Board::Healthy, Pace::Board, 90, true, {}, 3, "the port hung up",
         "write phase: step 90 of 120"},
        // The quiet time runs from the run's first message, however long the board takes to start.
        {"silent_before_the_run", Board::Healthy, Pace::AtOnce, 0, false, {}, 3,
         "read until the run's closing message", "done: sample 600 of 600", 1.5},
        // The progress line as wide as the terminal, by its size or by COLUMNS, never wider.
        {"fault_shown_whole_on_a_wide_terminal", Board::Gpio80NoOutput, Pace::AtOnce, 0, false, {}, 1,
         "GPIO80 could not be made an output",
         "; FAULT: GPDR2 did not take its update: GPDR2 changed from 0x00000000 to 0x00000000", 0, 160},
        {"fault_shown_whole_by_columns", Board::Gpio80NoOutput, Pace::AtOnce, 0, false, {}, 1,
         "GPIO80 could not be made an output",
         "; FAULT: GPDR2 did not take its update: GPDR2 changed from 0x00000000 to 0x00000000", 0, 0, "130"},
        {"fault_cut_on_a_narrow_terminal", Board::Gpio80NoOutput, Pace::AtOnce, 0, false, {}, 1,
         "GPIO80 could not be made an output", "done: sample 600 of 600", 0, 40},
    };
}

class LivePort : public testing::TestWithParam<LiveCase> {};

TEST_P(LivePort, VerdictProgressAndSettings) {
    const LiveCase& c = GetParam();
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    const std::string kept = Temporary(std::string(c.name) + ".kept.txt");
    std::vector<std::string> arguments = {PXA_GPIO_CHECK, "--trace", port.Name(), "--quiet-after", "0.5s",
                                          "--save-trace", kept};
    for (const std::string& option : c.options) {
        arguments.push_back(option == "CAPTURE" ? HealthyRun().vcdPath : option);
    }
    port_test::RunSetup setup;
    setup.columns = c.columns;
    setup.columnsVariable = c.columnsVariable;
    port_test::Run checker(arguments, setup);
    ASSERT_TRUE(port.WaitUntilRaw(10)) << "the checker did not set the port up";
    // The speed the kernel has, not the code the checker asked for: 921600 set as another would read back as it.
    const std::string baud = c.options.size() >= 2 && c.options[0] == "--baud" ? c.options[1] : "115200";
    EXPECT_EQ(port.Speed(), std::stol(baud));
    port_test::Pause(c.silentBefore);

    int steps = 0;
    std::string sent;
    Clock::time_point lastByte = Clock::now();
    for (const std::string& piece : port_test::TracePieces(TraceOf(c.board))) {
        if (piece.find("Writing") != std::string::npos && c.stopAtStep > 0 && ++steps > c.stopAtStep) break;
        sent += piece;
        port.Write(piece);
        lastByte = Clock::now();
        if (c.pace == Pace::AtOnce) continue;
        if (piece.find("Writing") != std::string::npos) port_test::Pause(0.5 * kScale);
        if (piece.find("Read value") != std::string::npos) port_test::Pause(0.012 * kScale);
    }
    if (c.hangUpAfter) port.HangUp();

    const int code = checker.Wait(30);
    ASSERT_NE(code, -1) << "still running 30 s after the last byte";
    EXPECT_EQ(code, c.exitCode) << checker.Output() << checker.Errors();
    EXPECT_NE(checker.Output().find(c.report), std::string::npos) << checker.Output();
    EXPECT_NE(checker.LastProgress().find(c.progress), std::string::npos) << checker.Errors();
    EXPECT_LE(Characters(checker.LastProgress()), c.columns != 0 ? c.columns - 1u : c.columnsVariable.empty() ? 79u : 129u)
        << checker.LastProgress();
    // Kept as it came, and the report says where.
    EXPECT_EQ(ReadFile(kept), sent);
    EXPECT_NE(checker.Output().find("kept in " + kept), std::string::npos) << checker.Output();
    std::remove(kept.c_str());
    const double after = std::chrono::duration<double>(checker.EndedAt() - lastByte).count();
    if (c.stopAtStep > 0 && !c.hangUpAfter) {
        EXPECT_GE(after, 0.5) << "stopped before the quiet time was over";
    }
    // An upper bound loose enough for a busy machine: a real check of the
    // delay is scripts/measure_live_port.sh.
    EXPECT_LT(after, c.stopAtStep > 0 && !c.hangUpAfter ? 5.5 : 5.0);

    struct termios now {};
    if (!c.hangUpAfter) {
        ASSERT_TRUE(port.Settings(now));
        const struct termios& before = port.Before();
        EXPECT_EQ(now.c_iflag, before.c_iflag);
        EXPECT_EQ(now.c_oflag, before.c_oflag);
        EXPECT_EQ(now.c_cflag, before.c_cflag);
        EXPECT_EQ(now.c_lflag, before.c_lflag);
        EXPECT_EQ(cfgetispeed(&now), cfgetispeed(&before));
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, LivePort, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<LiveCase>& info) { return info.param.name; });

// A signal that ends the checker mid-run: the port is as it was before,
// and the trace read so far is kept.
class LivePortSignal : public testing::TestWithParam<int> {};

TEST_P(LivePortSignal, SettingsRestoredAndTraceKept) {
    const int signalNumber = GetParam();
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    const std::string kept = Temporary("signal.kept.txt");
    port_test::Run checker({PXA_GPIO_CHECK, "--trace", port.Name(), "--save-trace", kept});
    ASSERT_TRUE(port.WaitUntilRaw(10));
    const std::string part = HealthyRun().trace.substr(0, 2000);
    port.Write(part);
    // Read and kept before the signal: the file grows as the bytes come.
    for (int i = 0; i < 2000 && ReadFile(kept).size() < part.size(); ++i) port_test::Pause(0.01);
    checker.Signal(signalNumber);
    EXPECT_EQ(checker.Wait(20), 128 + signalNumber);
    struct termios now {};
    ASSERT_TRUE(port.Settings(now));
    EXPECT_EQ(now.c_lflag, port.Before().c_lflag);
    EXPECT_EQ(now.c_iflag, port.Before().c_iflag);
    EXPECT_EQ(cfgetispeed(&now), cfgetispeed(&port.Before()));
    EXPECT_EQ(ReadFile(kept), part);
    std::remove(kept.c_str());
}

INSTANTIATE_TEST_SUITE_P(Signals, LivePortSignal, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGALRM),
                         [](const testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

// The checker's own terminal is never taken for a port: refused at once,
// left as it was, whether named /dev/tty, by its own name or as standard input.
TEST(LivePortOwnTerminal, RefusedAndLeftAsItWas) {
    const struct {
        const char* name;
        bool controlling;
        std::string trace;  // "PORT": the terminal's own name
    } cases[] = {
        {"controlling terminal as /dev/tty", true, "/dev/tty"},
        {"controlling terminal by its name", true, "PORT"},
        {"standard input", false, "/dev/stdin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port_test::PortPair port;
        ASSERT_TRUE(port.ok());
        port_test::RunSetup setup;
        setup.terminal = port.Name();
        setup.controlling = c.controlling;
        setup.directory = Temporary("own");  // a trace kept there would mean the terminal was read
        ASSERT_EQ(mkdir(setup.directory.c_str(), 0700), 0);
        port_test::Run checker({PXA_GPIO_CHECK, "--trace", c.trace == "PORT" ? port.Name() : c.trace}, setup);
        EXPECT_EQ(checker.Wait(10), 2) << "took the terminal as a port: " << checker.Errors();
        EXPECT_NE(checker.Errors().find("is this checker's own terminal"), std::string::npos) << checker.Errors();
        struct termios now {};
        ASSERT_TRUE(port.Settings(now));
        EXPECT_EQ(now.c_lflag, port.Before().c_lflag);
        EXPECT_EQ(now.c_iflag, port.Before().c_iflag);
        EXPECT_EQ(std::system(("rm -rf '" + setup.directory + "'").c_str()), 0);
    }
}

// Everything the run needs is looked at before the port is opened: a
// capture that is not there stops the checker before the board runs.
TEST(LivePortBeforeTheRun, MissingCaptureRefusedBeforeThePortIsSetUp) {
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    const std::string missing = Temporary("missing.sr");
    port_test::Run checker({PXA_GPIO_CHECK, "--trace", port.Name(), "--capture", missing, "--json",
                            Temporary("missing.json")});
    EXPECT_EQ(checker.Wait(20), 2) << "waited for the run though its capture is missing";
    EXPECT_NE(checker.Errors().find(missing + ": No such file or directory"), std::string::npos) << checker.Errors();
    struct termios now {};
    ASSERT_TRUE(port.Settings(now));
    EXPECT_EQ(now.c_lflag, port.Before().c_lflag);
}

// The trace is kept as it comes, under the default name in the working
// directory, so that a capture which fails to read later loses nothing.
TEST(LivePortBeforeTheRun, TraceKeptByDefaultWhenTheCaptureFails) {
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    const std::string directory = Temporary("keep");
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    const std::string broken = Temporary("broken.vcd");
    std::ofstream(broken) << "$timescale 1 us $end\n$var wire 1 a GPIO33 $end\n#oops\n";
    port_test::RunSetup setup;
    setup.directory = directory;
    port_test::Run checker({PXA_GPIO_CHECK, "--trace", port.Name(), "--capture", broken}, setup);
    ASSERT_TRUE(port.WaitUntilRaw(10));
    port.Write(HealthyRun().trace);
    EXPECT_EQ(checker.Wait(30), 2) << checker.Output() << checker.Errors();
    std::vector<std::string> names;
    if (DIR* listing = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        closedir(listing);
    }
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("pxa-gpio-check-trace-", 0), 0u) << names[0];
    EXPECT_EQ(ReadFile(directory + "/" + names[0]), HealthyRun().trace);
    EXPECT_NE(checker.Errors().find("the trace read is kept in " + names[0]), std::string::npos) << checker.Errors();
    std::remove((directory + "/" + names[0]).c_str());
    rmdir(directory.c_str());
    std::remove(broken.c_str());
}

// A port that hangs up before the run says so, on a line of its own after
// the progress line.
TEST(LivePortBeforeTheRun, HangUpBeforeTheRunSaidOnItsOwnLine) {
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    const std::string kept = Temporary("hangup.kept.txt");
    port_test::Run checker({PXA_GPIO_CHECK, "--trace", port.Name(), "--save-trace", kept});
    ASSERT_TRUE(port.WaitUntilRaw(10));
    port.HangUp();
    EXPECT_EQ(checker.Wait(20), 2);
    const std::string& errors = checker.Errors();
    const auto message = errors.find("pxa-gpio-check: '" + port.Name() + "' hung up before the run began");
    ASSERT_NE(message, std::string::npos) << errors;
    EXPECT_EQ(errors[message - 1], '\n') << "glued to the progress line: " << errors;
    std::remove(kept.c_str());
}

// A port's name shown on the progress line escaped, as in the report.
TEST(LivePortName, ShownEscaped) {
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    const std::string link = Temporary("port\x1b]0;owned\x07");
    ASSERT_EQ(symlink(port.Name().c_str(), link.c_str()), 0);
    const std::string kept = Temporary("name.kept.txt");
    port_test::Run checker({PXA_GPIO_CHECK, "--trace", link, "--save-trace", kept});
    ASSERT_TRUE(port.WaitUntilRaw(10));
    port.Write(HealthyRun().trace);
    EXPECT_EQ(checker.Wait(30), 3);
    EXPECT_EQ(checker.Errors().find('\x1b'), std::string::npos) << checker.Errors();
    EXPECT_EQ(checker.Errors().find('\x07'), std::string::npos) << checker.Errors();
    EXPECT_NE(checker.Errors().find("waiting for the run on " + Temporary("port\\x1b]0;owned\\x07")),
              std::string::npos)
        << checker.Errors();
    std::remove(link.c_str());
    std::remove(kept.c_str());
}

// A terminal whose other side has gone reads EIO rather than an end (a pty's
// master once its terminal closed, an adapter mid-reset): a hang-up too,
// said as such before the run began. In-process, the bytes written before.
TEST(LiveTraceHangUp, ReadingEioIsAHangUp) {
    const std::string run = HealthyRun().trace;
    const struct {
        const char* name;
        std::string sent;
        bool read;          // a trace, or a message
        const char* error;  // a piece of the message
    } cases[] = {
        {"before the run", "", false, "hung up before the run began"},
        {"before the run, after other text", "login: ", false, "hung up before the run began"},
        {"mid-run", run.substr(0, run.size() / 2), true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int board = -1, terminal = -1;
        ASSERT_EQ(openpty(&board, &terminal, nullptr, nullptr, nullptr), 0);
        struct termios raw {};
        tcgetattr(terminal, &raw);
        cfmakeraw(&raw);
        tcsetattr(terminal, TCSANOW, &raw);
        ASSERT_EQ(write(terminal, c.sent.data(), c.sent.size()), static_cast<ssize_t>(c.sent.size()));
        close(terminal);
        gpio_check::LiveSource source;
        source.fd = board;
        source.name = "board";
        source.port = true;
        gpio_check::LiveTrace live;
        std::string error;
        EXPECT_EQ(gpio_check::ReadTraceLive(source, live, error), c.read) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        if (c.read) {
            EXPECT_EQ(live.end, gpio_check::LiveEnd::HungUp);
            EXPECT_EQ(gpio_check::DescribeLiveEnd(live, 5), "the port hung up");
        }
        close(board);
    }
}

// Every speed the checker takes is the speed the port gets, by the
// kernel's own number for it.
TEST(SerialPortSpeed, EverySpeedTakenIsTheSpeedSet) {
    int board = -1, terminal = -1;
    char name[256];
    ASSERT_EQ(openpty(&board, &terminal, name, nullptr, nullptr), 0);
    int taken = 0;
    for (unsigned baud : {50u, 75u, 110u, 134u, 150u, 200u, 300u, 600u, 1200u, 1800u, 2400u, 4800u, 9600u, 19200u,
                          38400u, 57600u, 115200u, 230400u, 460800u, 500000u, 576000u, 921600u, 1000000u, 1152000u,
                          1500000u, 2000000u, 2500000u, 3000000u, 3500000u, 4000000u, 12345u, 0u}) {
        if (!gpio_check::IsSupportedBaud(baud)) continue;
        ++taken;
        gpio_check::SerialPort port;
        std::string error;
        ASSERT_TRUE(port.Open(name, baud, error)) << baud << ": " << error;
        EXPECT_EQ(port_test::TerminalSpeed(port.Descriptor()), static_cast<long>(baud));
    }
    EXPECT_EQ(taken, 30);
    close(board);
    close(terminal);
}

// The progress line on a terminal: each state overwrites the one before
// whole, as wide as the terminal less a column, escaped.
TEST(ProgressLineOnATerminal, OverwritesWholeWithinTheWidth) {
    int board = -1, terminal = -1;
    struct winsize size {};
    size.ws_col = 40;
    size.ws_row = 24;
    ASSERT_EQ(openpty(&board, &terminal, nullptr, nullptr, &size), 0);
    {
        gpio_check::ProgressLine line(terminal);
        ASSERT_TRUE(line.Enabled());
        EXPECT_EQ(line.Columns(), 40u);
        line.Show("write phase: step 119 of 120, 59.9 s; FAULT: GPDR2 did not take its update");
        line.Show("read phase: sample 3 of 600");
        line.Show("bell\x07 caf\xC3\xA9");
        line.End();
    }
    // What a terminal shows: each character at the cursor, \r to the line's start, \b one back.
    // A pty hands its output over in pieces: read up to the line's end.
    char block[4096];
    ssize_t got = 0;
    while (std::memchr(block, '\n', static_cast<std::size_t>(got)) == nullptr) {
        struct pollfd ready {board, POLLIN, 0};
        ASSERT_EQ(poll(&ready, 1, 30000), 1) << "the line was never ended";
        const ssize_t piece = read(board, block + got, sizeof block - static_cast<std::size_t>(got));
        ASSERT_GT(piece, 0);
        got += piece;
    }
    std::vector<std::string> cells;
    std::size_t cursor = 0, widest = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(got) && block[i] != '\n'; ++i) {
        const char c = block[i];
        if (c == '\r') {
            cursor = 0;
        } else if (c == '\b') {
            cursor = cursor > 0 ? cursor - 1 : 0;
        } else if ((static_cast<unsigned char>(c) & 0xC0) == 0x80 && cursor > 0) {
            cells[cursor - 1] += c;  // the rest of the character before
        } else {
            if (cursor < cells.size()) cells[cursor] = std::string(1, c); else cells.emplace_back(1, c);
            widest = std::max(widest, ++cursor);
        }
    }
    std::string screen;
    for (const std::string& cell : cells) screen += cell;
    screen.erase(screen.find_last_not_of(' ') + 1);
    EXPECT_LE(widest, 39u);
    EXPECT_EQ(screen, "bell\\x07 caf\xC3\xA9");
    EXPECT_EQ(gpio_check::FitProgressText("write phase: step 119 of 120, 59.9 s; FAULT: x", 39),
              "write phase: step 119 of 120, 59.9 s...");
    EXPECT_EQ(gpio_check::FitProgressText("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 4), "\xC3\xA9...");
    close(board);
    close(terminal);
}

// A pipe shows the progress line too, and is read to its end: no quiet
// time, and the closing message does not stop it.
TEST(LivePipe, ProgressShownAndReadToTheEnd) {
    const std::string fifo = Temporary("trace.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    port_test::Run checker({PXA_GPIO_CHECK, "--trace", fifo});
    const int board = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(board, 0);
    const std::string trace = HealthyRun().trace;
    ASSERT_EQ(write(board, trace.data(), trace.size()), static_cast<ssize_t>(trace.size()));
    port_test::Pause(0.3);
    EXPECT_TRUE(checker.Running()) << "stopped before the pipe's end";
    close(board);
    unlink(fifo.c_str());
    EXPECT_EQ(checker.Wait(30), 3) << checker.Output();  // a trace alone: the pins not seen
    EXPECT_NE(checker.LastProgress().find("done: sample 600 of 600"), std::string::npos) << checker.Errors();
    EXPECT_NE(checker.Output().find("trace                    ok       a whole run in order"), std::string::npos);
}

}  // namespace
