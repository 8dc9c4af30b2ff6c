// The program on every PXA machine of QEMU 7.2, and the board-support test
// image on `mainstone`: what comes out of the FFUART, the exit status passed
// out by semihosting, and QEMU's own log of every access that reached a
// device, against the host simulation and against what each core and board
// needs. Each boots with its BSS and stacks full of 0xA5 bytes, as a
// board's memory may be after a reset.

#include <gtest/gtest.h>

#include <elf.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "expected_trace.h"

#if !defined(QEMU_PROGRAM) || !defined(EXERCISE_IMAGE) || !defined(BOARD_TEST_IMAGE) || \
    !defined(HOST_ACCESS_LOG) || !defined(HOST_TRACE) || !defined(OUTPUT_DIR)
#error "the build must say where QEMU, the images, the host's records and the output go"
#endif

namespace {

enum class Core { kPxa25x, kPxa27x };

struct Machine {
    const char* name;
    Core core;
    // The Gumstix machines ignore -kernel and boot from a flash of this
    // size; the image then comes in through QEMU's loader device.
    unsigned flashMiB;
    // Lines the board itself holds high, as bits of GPLR0..GPLR2. None is
    // one of the driver's two lines, so they stay inputs and read 1 in every
    // level read.
    std::uint32_t heldHigh[3];
};

void PrintTo(const Machine& machine, std::ostream* out) { *out << machine.name; }

// The Zaurus machines close their battery cover switch: GPIO90 high.
constexpr std::uint32_t kZaurusBatteryCover = 1u << (90 - 64);

const Machine kMachines[] = {
    {"mainstone", Core::kPxa27x, 0, {0, 0, 0}},
    {"akita", Core::kPxa27x, 0, {0, 0, kZaurusBatteryCover}},
    {"spitz", Core::kPxa27x, 0, {0, 0, kZaurusBatteryCover}},
    {"borzoi", Core::kPxa27x, 0, {0, 0, kZaurusBatteryCover}},
    {"terrier", Core::kPxa27x, 0, {0, 0, kZaurusBatteryCover}},
    {"z2", Core::kPxa27x, 0, {0, 0, 0}},
    {"verdex", Core::kPxa27x, 32, {0, 0, 0}},
    {"tosa", Core::kPxa25x, 0, {0, 0, 0}},
    {"connex", Core::kPxa25x, 16, {0, 0, 0}},
};

// The OS timer's rate: 3.6864 MHz on the PXA25x, 3.25 MHz on the PXA27x.
std::uint32_t TimerHz(Core core) { return core == Core::kPxa25x ? 3686400 : 3250000; }

constexpr std::uint32_t kGpioBase = 0x40E00000;
constexpr std::uint32_t kWindowBase = 0x60000000;  // the board's first VirtualAlloc
constexpr std::uint32_t kOsmr0 = 0x40A00000;
constexpr std::uint32_t kOscr0 = 0x40A00010;
constexpr std::uint32_t kOssr = 0x40A00014;
constexpr std::uint32_t kOier = 0x40A0001C;
constexpr std::uint32_t kFfuart = 0x40100000;
constexpr std::uint32_t kFfuartLcr = kFfuart + 0x0C;
constexpr std::uint32_t kFfuartLsr = kFfuart + 0x14;
constexpr std::uint32_t kFfuartFcr = kFfuart + 0x08;
constexpr std::uint32_t kLsrTransmitRoom = 1u << 5;
constexpr std::uint32_t kLsrTransmitterEmpty = 1u << 6;
constexpr std::uint32_t kLcrDivisorLatch = 1u << 7;
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

std::string Hex8(std::uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

// QEMU loads an image into zeroed memory and zeroes what its segments leave
// out of the file (the BSS, the stacks); a board after a reset does neither.
// Writes `copy`, the image with each segment cut to its file's bytes, and
// returns the QEMU options that fill the rest with 0xA5 bytes instead.
std::string LoadIntoDirtyMemory(const std::string& image, const std::string& copy) {
    std::string elf = ReadFile(image);
    Elf32_Ehdr header{};
    EXPECT_GE(elf.size(), sizeof header) << "no ELF image at " << image;
    if (elf.size() < sizeof header) return "";
    std::memcpy(&header, elf.data(), sizeof header);
    std::string options;
    for (std::size_t index = 0; index < header.e_phnum; ++index) {
        const std::size_t at = header.e_phoff + index * sizeof(Elf32_Phdr);
        Elf32_Phdr segment{};
        if (at + sizeof segment > elf.size()) break;
        std::memcpy(&segment, elf.data() + at, sizeof segment);
        if (segment.p_type != PT_LOAD || segment.p_memsz <= segment.p_filesz) continue;
        const std::string fill = copy + "-" + std::to_string(index) + ".fill";
        std::ofstream{fill, std::ios::binary | std::ios::trunc}
            << std::string(segment.p_memsz - segment.p_filesz, '\xA5');
        options += " -device loader,file=" + fill + ",addr=" + Hex8(segment.p_paddr + segment.p_filesz) +
                   ",force-raw=on";
        segment.p_memsz = segment.p_filesz;
        std::memcpy(&elf[at], &segment, sizeof segment);
    }
    std::ofstream{copy, std::ios::binary | std::ios::trunc} << elf;
    return options;
}

// Boots `image` on `machine`, in memory that starts dirty, with `devices`
// (more QEMU options) put in besides; a hung board is killed after a minute
// of host time.
EmulatedRun Boot(const Machine& machine, const std::string& image, const std::string& name,
                 const std::string& devices = "") {
    const std::string prefix = std::string(OUTPUT_DIR) + "/" + machine.name + "-" + name;
    const std::string uart = prefix + ".uart";
    const std::string bus = prefix + ".bus";
    std::remove(uart.c_str());
    std::remove(bus.c_str());
    const std::string loaded = prefix + ".elf";
    const std::string dirty = LoadIntoDirtyMemory(image, loaded);
    std::string boot = " -kernel " + loaded;
    if (machine.flashMiB != 0) {
        const std::string flash = std::string(OUTPUT_DIR) + "/" + machine.name + "-flash.bin";
        std::ofstream{flash, std::ios::binary | std::ios::trunc};
        std::filesystem::resize_file(flash, std::uintmax_t{machine.flashMiB} << 20);
        boot = " -drive file=" + flash + ",if=pflash,format=raw -device loader,file=" + loaded +
               ",cpu-num=0";
    }
    boot += dirty;
    const std::string command = std::string("timeout --kill-after=5 60 ") + QEMU_PROGRAM + " -M " +
                                machine.name +
                                " -display none -monitor none -serial file:" + uart +
                                " -semihosting -icount shift=0,sleep=off"
                                " -audiodev none,id=silence -global wm8750.audiodev=silence"
                                " -trace 'memory_region_ops_*' -D " + bus + boot + devices;
    EmulatedRun run;
    const int status = std::system(command.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.uart = ReadFile(uart);
    run.bus = ParseBusLog(ReadFile(bus));
    return run;
}

std::string Describe(const BusAccess& access) {
    return std::string(access.write ? "W " : "R ") + Hex8(access.address) + " " + Hex8(access.value);
}

class ExerciseRun : public testing::TestWithParam<Machine> {
protected:
    // One boot a machine, shared by its checks.
    static const EmulatedRun& Run() {
        static std::map<std::string, EmulatedRun> runs;
        const Machine& machine = GetParam();
        auto found = runs.find(machine.name);
        if (found == runs.end()) {
            found = runs.emplace(machine.name, Boot(machine, EXERCISE_IMAGE, "exercise")).first;
        }
        return found->second;
    }
};

TEST_P(ExerciseRun, PrintsTheWholeTraceOnTheUartAndExitsZero) {
    EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(Run().uart, expected::WholeRun(kWindowBase, 0));
}

// The host simulation's board drives nothing; this one holds some lines
// high, and exactly those read 1 on the emulated bus.
void ExpectTheGpioAccessesOfTheHostSimulation(const EmulatedRun& run, const Machine& machine) {
    std::vector<std::string> onBus;
    for (const BusAccess& access : run.bus) {
        if (access.device != "pxa2xx-gpio") continue;
        EXPECT_EQ(access.size, 4u) << "at " << Hex8(access.address);
        onBus.push_back(std::string(access.write ? "W " : "R ") + Hex8(access.address - kGpioBase) +
                        " " + Hex8(access.value));
    }
    // The host log's lines carry the time as a fourth field; the bus log has none.
    std::vector<std::string> onHost;
    std::istringstream hostLog(ReadFile(HOST_ACCESS_LOG));
    for (std::string kind, offset, value, seconds; hostLog >> kind >> offset >> value >> seconds;) {
        const std::uint32_t at = std::stoul(offset, nullptr, 16);
        std::uint32_t level = std::stoul(value, nullptr, 16);
        if (kind == "R" && at <= expected::GPLR2) level |= machine.heldHigh[at / 4];
        onHost.push_back(kind + " " + offset + " " + Hex8(level));
    }

    ASSERT_FALSE(onHost.empty()) << "no host access log at " << HOST_ACCESS_LOG;
    ASSERT_EQ(onBus.size(), onHost.size());
    for (std::size_t i = 0; i < onBus.size(); ++i) {
        ASSERT_EQ(onBus[i], onHost[i]) << "access " << i;
    }
}

TEST_P(ExerciseRun, GpioBusCarriesExactlyTheAccessesTheHostSimulationRecords) {
    ExpectTheGpioAccessesOfTheHostSimulation(Run(), GetParam());
}

// Each sleep programs match register 0 relative to the counter it has just
// read, at the core's own rate, and then idles: a handful of timer accesses
// a sleep, not a poll.
TEST_P(ExerciseRun, EverySleepIsTimedOnTheOsTimerAtTheCoresRateWhileTheCoreIdles) {
    std::vector<std::uint32_t> sleepTicks;
    std::uint32_t lastCount = 0;
    std::uint32_t firstCount = 0;
    bool counted = false;
    std::size_t timerAccesses = 0;
    for (const BusAccess& access : Run().bus) {
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
    const std::uint32_t hz = TimerHz(GetParam().core);
    std::vector<std::uint32_t> expected(120, hz / 2);
    expected.insert(expected.end(), 600, hz / 100);
    EXPECT_EQ(sleepTicks, expected);
    // 66 s of sleep; the code between the sleeps adds less than a millisecond.
    EXPECT_GE(lastCount - firstCount, 66 * hz);
    EXPECT_LE(lastCount - firstCount, 66 * hz + hz / 1000);
    EXPECT_LT(timerAccesses, 10 * expected.size());
}

// Only the timer's match may end idle: the mask is written whole, never
// merged with what a boot loader left, the PXA27x's second mask is cleared
// and the PXA25x's absent one never touched. At exit the timer and every
// source are silenced, so that the final idle lasts.
TEST_P(ExerciseRun, OnlyTheTimerWakesTheCoreAndNothingAtAllOnceItHasExited) {
    const bool pxa27x = GetParam().core == Core::kPxa27x;
    std::vector<std::string> intc;
    std::vector<std::string> timerWrites;
    for (const BusAccess& access : Run().bus) {
        if (access.device == "pxa2xx-pic") intc.push_back(Describe(access));
        if (access.device == "pxa2xx-timer" && access.write) timerWrites.push_back(Describe(access));
    }
    std::vector<std::string> expectedIntc = {"R 0x40d00008 0x00000000", "W 0x40d00008 0x00000000",
                                             "W 0x40d00014 0x00000001", "W 0x40d00004 0x04000000"};
    if (pxa27x) expectedIntc.push_back("W 0x40d000a0 0x00000000");
    expectedIntc.push_back("W 0x40d00004 0x00000000");
    if (pxa27x) expectedIntc.push_back("W 0x40d000a0 0x00000000");
    EXPECT_EQ(intc, expectedIntc);

    ASSERT_GE(timerWrites.size(), 2u);
    EXPECT_EQ(timerWrites[timerWrites.size() - 2], "W " + Hex8(kOier) + " 0x00000000");
    EXPECT_EQ(timerWrites.back(), "W " + Hex8(kOssr) + " " + Hex8(pxa27x ? 0xFFF : 0xF));
}

// QEMU's UART never fills, so a transmitter that does not wait would pass
// unseen; on a board it loses characters. The bus log shows the waiting:
// every byte written only after a status read showing room, the FIFO reset
// only once what was there before has gone, and the last byte gone before
// the program exits.
TEST_P(ExerciseRun, TheUartSendsOnlyWithRoomAndIsEmptyAtResetAndExit) {
    bool divisorLatch = false;
    bool room = false;
    bool empty = false;
    bool emptyAtFifoReset = false;
    std::size_t sent = 0;
    for (const BusAccess& access : Run().bus) {
        if (access.address < kFfuart || access.address >= kFfuart + 0x40) continue;
        if (!access.write && access.address == kFfuartLsr) {
            room = (access.value & kLsrTransmitRoom) != 0;
            empty = (access.value & kLsrTransmitterEmpty) != 0;
        } else if (access.write && access.address == kFfuartLcr) {
            divisorLatch = (access.value & kLcrDivisorLatch) != 0;
        } else if (access.write && access.address == kFfuartFcr) {
            emptyAtFifoReset = sent == 0 && empty;
        } else if (access.write && access.address == kFfuart && !divisorLatch) {
            ASSERT_TRUE(room) << "byte " << sent << " written without a status read showing room";
            room = empty = false;
            ++sent;
        }
    }
    EXPECT_EQ(sent, Run().uart.size());
    EXPECT_TRUE(emptyAtFifoReset);
    EXPECT_TRUE(empty) << "exited before the transmitter was seen empty";
}

INSTANTIATE_TEST_SUITE_P(OnEveryMachine, ExerciseRun, testing::ValuesIn(kMachines),
                         [](const testing::TestParamInfo<Machine>& info) {
                             return std::string(info.param.name);
                         });

TEST(BoardSupport, ReportsFaultsAndFailedStorageAndStopsOnAnUnhandledAbort) {
    const EmulatedRun run = Boot(kMachines[0], BOARD_TEST_IMAGE, "board_test");
    EXPECT_EQ(run.status, kExitProcessorException);
    EXPECT_EQ(run.uart.find("FAILED"), std::string::npos) << run.uart;
    EXPECT_NE(run.uart.find("\r\n0 failed\r\n"), std::string::npos) << run.uart;

    std::size_t passed = 0;
    for (std::size_t at = 0; (at = run.uart.find("ok ", at)) != std::string::npos; ++at) ++passed;
    EXPECT_EQ(passed, 45u) << run.uart;

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
