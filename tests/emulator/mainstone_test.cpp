// The program and the board-support test image on QEMU's PXA27x board
// (`mainstone`): what comes out of the FFUART, the exit status passed out by
// semihosting, and QEMU's own log of every access that reached a device.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "expected_trace.h"

#if !defined(QEMU_PROGRAM) || !defined(EXERCISE_IMAGE) || !defined(BOARD_TEST_IMAGE) || \
    !defined(HOST_ACCESS_LOG) || !defined(OUTPUT_DIR)
#error "the build must say where QEMU, the images, the host log and the output go"
#endif

namespace {

constexpr std::uint32_t kGpioBase = 0x40E00000;
constexpr std::uint32_t kWindowBase = 0x60000000;  // the board's first VirtualAlloc
constexpr std::uint32_t kOsmr0 = 0x40A00000;
constexpr std::uint32_t kOscr0 = 0x40A00010;
constexpr std::uint32_t kTicksPerMs = 3250;
constexpr int kExitProcessorException = 3;

struct BusAccess {
    bool write;
    std::uint32_t address;
    std::uint32_t value;
    unsigned size;
    std::string device;
};

struct EmulatedRun {
    int status = -1;
    std::string uart;
    std::vector<BusAccess> bus;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<BusAccess> ParseBusLog(const std::string& log) {
    static const std::regex line(
        R"(memory_region_ops_(read|write) .*addr 0x([0-9a-f]+) value 0x([0-9a-f]+) size ([0-9]+) name '([^']*)')");
    std::vector<BusAccess> accesses;
    std::istringstream in(log);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!std::regex_search(text, m, line)) continue;
        accesses.push_back({m[1] == "write", static_cast<std::uint32_t>(std::stoul(m[2], nullptr, 16)),
                            static_cast<std::uint32_t>(std::stoul(m[3], nullptr, 16)),
                            static_cast<unsigned>(std::stoul(m[4])), m[5]});
    }
    return accesses;
}

// Boots `image`; a hung board is killed after a minute of host time.
EmulatedRun Boot(const std::string& image, const std::string& name) {
    const std::string uart = std::string(OUTPUT_DIR) + "/" + name + ".uart";
    const std::string bus = std::string(OUTPUT_DIR) + "/" + name + ".bus";
    std::remove(uart.c_str());
    std::remove(bus.c_str());
    const std::string command = std::string("timeout --kill-after=5 60 ") + QEMU_PROGRAM +
                                " -M mainstone -display none -monitor none"
                                " -serial file:" + uart +
                                " -semihosting -icount shift=0,sleep=off"
                                " -trace 'memory_region_ops_*' -D " + bus + " -kernel " + image;
    EmulatedRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.uart = ReadFile(uart);
    run.bus = ParseBusLog(ReadFile(bus));
    return run;
}

const EmulatedRun& ExerciseRun() {
    static const EmulatedRun run = Boot(EXERCISE_IMAGE, "exercise");
    return run;
}

const EmulatedRun& BoardTestRun() {
    static const EmulatedRun run = Boot(BOARD_TEST_IMAGE, "board_test");
    return run;
}

std::string Hex8(std::uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

TEST(MainstoneRun, PrintsTheWholeTraceOnTheUartAndExitsZero) {
    const EmulatedRun& run = ExerciseRun();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.uart, expected::WholeRun(kWindowBase, 0));
}

TEST(MainstoneRun, GpioBusCarriesExactlyTheAccessesTheHostSimulationRecords) {
    std::vector<std::string> onBus;
    for (const BusAccess& access : ExerciseRun().bus) {
        if (access.device != "pxa2xx-gpio") continue;
        EXPECT_EQ(access.size, 4u) << "at " << Hex8(access.address);
        onBus.push_back(std::string(access.write ? "W " : "R ") + Hex8(access.address - kGpioBase) +
                        " " + Hex8(access.value));
    }
    // The host log's lines carry the time as a fourth field; the bus log has none.
    std::vector<std::string> onHost;
    std::istringstream hostLog(ReadFile(HOST_ACCESS_LOG));
    for (std::string kind, offset, value, seconds; hostLog >> kind >> offset >> value >> seconds;) {
        onHost.push_back(kind + " " + offset + " " + value);
    }

    ASSERT_FALSE(onHost.empty()) << "no host access log at " << HOST_ACCESS_LOG;
    ASSERT_EQ(onBus.size(), onHost.size());
    for (std::size_t i = 0; i < onBus.size(); ++i) {
        ASSERT_EQ(onBus[i], onHost[i]) << "access " << i;
    }
}

// Each sleep programs match register 0 relative to the counter it has just
// read, and then idles: a handful of timer accesses a sleep, not a poll.
TEST(MainstoneRun, EverySleepIsTimedOnTheOsTimerWhileTheCoreIdles) {
    std::vector<std::uint32_t> sleepTicks;
    std::uint32_t lastCount = 0;
    std::uint32_t firstCount = 0;
    bool counted = false;
    std::size_t timerAccesses = 0;
    for (const BusAccess& access : ExerciseRun().bus) {
        if (access.device != "pxa2xx-timer") continue;
        ++timerAccesses;
        if (!access.write && access.address == kOscr0) {
            if (!counted) firstCount = access.value;
            counted = true;
            lastCount = access.value;
        } else if (access.write && access.address == kOsmr0) {
            sleepTicks.push_back(access.value - lastCount);
        }
    }
    std::vector<std::uint32_t> expected(120, 500 * kTicksPerMs);
    expected.insert(expected.end(), 600, 10 * kTicksPerMs);
    EXPECT_EQ(sleepTicks, expected);
    EXPECT_GE(lastCount - firstCount, 66000u * kTicksPerMs);
    EXPECT_LT(timerAccesses, 10 * expected.size());
}

TEST(BoardSupport, ReportsFaultsAndFailedStorageAndStopsOnAnUnhandledAbort) {
    const EmulatedRun& run = BoardTestRun();
    EXPECT_EQ(run.status, kExitProcessorException);
    EXPECT_EQ(run.uart.find("FAILED"), std::string::npos) << run.uart;
    EXPECT_NE(run.uart.find("\r\n0 failed\r\n"), std::string::npos) << run.uart;

    std::size_t passed = 0;
    for (std::size_t at = 0; (at = run.uart.find("ok ", at)) != std::string::npos; ++at) ++passed;
    EXPECT_EQ(passed, 21u) << run.uart;

    // A window that is reserved but not mapped, or released, faults and is
    // reported as such, each time.
    const std::string unmapped =
        "\r\nData abort: page translation fault at address 0x60000010 (FSR 0x007), instruction at 0x";
    std::size_t reports = 0;
    for (std::size_t at = 0; (at = run.uart.find(unmapped, at)) != std::string::npos; ++at) ++reports;
    EXPECT_EQ(reports, 4u) << run.uart;  // read and write before mapping, read after release, the last

    // No storage: the routine reports it and does nothing else.
    EXPECT_NE(run.uart.find("ok no storage for a second object\r\n"
                            "+TolvarGPIOTest\r\nError! at new TolvarGPIO()\r\n\r\n-TolvarGPIOTest\r\n"
                            "ok routine fails without storage\r\n"),
              std::string::npos)
        << run.uart;

    // The unhandled one is the last thing reported: "...instruction at 0xXXXXXXXX\r\n".
    const std::size_t last = run.uart.rfind(unmapped);
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(run.uart.size(), last + unmapped.size() + 8 + 2) << run.uart.substr(last);
}

}  // namespace
