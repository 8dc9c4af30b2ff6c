// Figures for pxa-gpio-check reading a serial port, on a pseudo-terminal
// pair (for scripts/measure_live_port.sh):
//   live_port_measure CHECKER SIMULATOR delay [N]
//     the time from the run's closing message written into the port to the
//     checker's exit, N times (10 unless given): median, least, greatest;
//   live_port_measure CHECKER SIMULATOR cpu
//     a whole run of the simulator at a real board's pace (115200 Bd, 1 ms
//     tick, its real clock: 67.5 s) copied into the port as it prints: the
//     checker's user and system CPU seconds over it.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "port_pair.h"

namespace {

using port_test::Clock;

// Where the checker keeps the trace it reads, as it does at the bench; removed after.
std::string KeptTrace() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/live_port_measure." + std::to_string(getpid()) + ".txt";
}

std::string SimulatedTrace(const std::string& simulator) {
    std::string command = simulator + " --clock simulated --debug-baud 115200 --sleep-tick 1ms";
    FILE* pipe = popen(command.c_str(), "r");
    std::string trace;
    char block[4096];
    for (std::size_t got; pipe != nullptr && (got = fread(block, 1, sizeof block, pipe)) > 0;) trace.append(block, got);
    if (pipe == nullptr || pclose(pipe) != 0) trace.clear();
    return trace;
}

int Delay(const std::string& checker, const std::string& simulator, int runs) {
    const std::string trace = SimulatedTrace(simulator);
    const std::string closing = "-TolvarGPIOTest";
    const auto at = trace.rfind(closing);
    if (at == std::string::npos) {
        std::fprintf(stderr, "live_port_measure: no closing message in the simulator's trace\n");
        return 1;
    }
    std::vector<double> delays;
    for (int i = 0; i < runs; ++i) {
        port_test::PortPair port;
        port_test::Run run({checker, "--trace", port.Name(), "--save-trace", KeptTrace()});
        if (!port.ok() || !port.WaitUntilRaw(10)) return 1;
        port.Write(trace.substr(0, at));
        port_test::Pause(0.3);  // the last sample's wait, as on a board
        port.Write(trace.substr(at));
        const Clock::time_point sent = Clock::now();
        if (run.Wait(30) < 0) {
            std::fprintf(stderr, "live_port_measure: the checker did not stop at the closing message\n");
            return 1;
        }
        delays.push_back(std::chrono::duration<double>(run.EndedAt() - sent).count() * 1000);
    }
    std::sort(delays.begin(), delays.end());
    std::printf("closing message to exit, %d runs: median %.1f ms, least %.1f ms, greatest %.1f ms\n", runs,
                delays[delays.size() / 2], delays.front(), delays.back());
    return 0;
}

int Cpu(const std::string& checker, const std::string& simulator) {
    port_test::PortPair port;
    port_test::Run run({checker, "--trace", port.Name(), "--save-trace", KeptTrace()});
    if (!port.ok() || !port.WaitUntilRaw(10)) return 1;
    FILE* board = popen((simulator + " --clock real --debug-baud 115200 --sleep-tick 1ms 2>/dev/null").c_str(), "r");
    if (board == nullptr) return 1;
    const Clock::time_point start = Clock::now();
    char block[256];
    for (ssize_t got; (got = read(fileno(board), block, sizeof block)) > 0;) {
        port.Write(std::string(block, static_cast<std::size_t>(got)));
    }
    pclose(board);
    const int code = run.Wait(60);
    const double wall = std::chrono::duration<double>(run.EndedAt() - start).count();
    std::printf("a whole live run at 115200 Bd: %.1f s, exit %d, checker CPU %.3f s (user+system)\n", wall, code,
                run.CpuSeconds());
    return code < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: live_port_measure CHECKER SIMULATOR delay [N] | cpu\n");
        return 2;
    }
    const std::string mode = argv[3];
    if (mode == "delay" || mode == "cpu") {
        const int code = mode == "delay" ? Delay(argv[1], argv[2], argc > 4 ? std::atoi(argv[4]) : 10)
                                         : Cpu(argv[1], argv[2]);
        std::remove(KeptTrace().c_str());
        return code;
    }
    std::fprintf(stderr, "live_port_measure: no mode '%s'\n", argv[3]);
    return 2;
}
