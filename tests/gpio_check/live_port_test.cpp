// pxa-gpio-check reading the trace from a serial port as the run goes: a
// pseudo-terminal stands for the port, the test writes the board's bytes
// into it at a real board's pace (a hundred times faster), and watches the
// checker's exit code, report, progress line and the port's settings after.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "port_pair.h"

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
};

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
    };
}

class LivePort : public testing::TestWithParam<LiveCase> {};

TEST_P(LivePort, VerdictProgressAndSettings) {
    const LiveCase& c = GetParam();
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    std::vector<std::string> arguments = {PXA_GPIO_CHECK, "--trace", port.Name(), "--quiet-after", "0.5s"};
    for (const std::string& option : c.options) {
        arguments.push_back(option == "CAPTURE" ? HealthyRun().vcdPath : option);
    }
    port_test::Run checker(arguments);
    ASSERT_TRUE(port.WaitUntilRaw(10)) << "the checker did not set the port up";

    int steps = 0;
    Clock::time_point lastByte = Clock::now();
    for (const std::string& piece : port_test::TracePieces(TraceOf(c.board))) {
        if (piece.find("Writing") != std::string::npos && c.stopAtStep > 0 && ++steps > c.stopAtStep) break;
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

// A signal ends the checker mid-run: the port is as it was before.
TEST(LivePortSignal, SettingsRestoredWhenInterrupted) {
    port_test::PortPair port;
    ASSERT_TRUE(port.ok());
    port_test::Run checker({PXA_GPIO_CHECK, "--trace", port.Name()});
    ASSERT_TRUE(port.WaitUntilRaw(10));
    port.Write(HealthyRun().trace.substr(0, 2000));
    port_test::Pause(0.1);
    checker.Interrupt();
    EXPECT_EQ(checker.Wait(10), 128 + SIGINT);
    struct termios now {};
    ASSERT_TRUE(port.Settings(now));
    EXPECT_EQ(now.c_lflag, port.Before().c_lflag);
    EXPECT_EQ(now.c_iflag, port.Before().c_iflag);
    EXPECT_EQ(cfgetispeed(&now), cfgetispeed(&port.Before()));
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
