// The device's own .exe, byte for byte the file copied onto a device, run as
// a CE process on the emulated PXA255 and PXA270 cores against the
// simulated board: what it prints and does on the bus against the host-built
// program on the same board, each call CE would refuse, and copies of the
// file with one thing wrong, as a damaged file or a program's bug has it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "TolvarGPIOTest.h"
#include "ce_process.h"
#include "simulated_board.h"

#ifndef CE_EXECUTABLE
#error "the build must say where the .exe is"
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;
using ce_process::Core;

const Bytes& TheExecutable() {
    static const Bytes file = [] {
        std::ifstream in(CE_EXECUTABLE, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return file;
}

struct ProcessRun {
    ce_process::ProcessResult result;
    std::string trace;
    std::vector<host::PxaGpioModel::Access> accesses;
    std::uint64_t endUs = 0;
    std::size_t reservedRanges = 0;
};

host::SimulatedBoard& FreshBoard() {
    host::SimulatedBoard& board = host::SimulatedBoard::Instance();
    board.PowerUp();
    board.UseVirtualClock();
    board.CaptureTrace();
    return board;
}

ProcessRun Record(host::SimulatedBoard& board, ce_process::ProcessResult result) {
    ProcessRun run{std::move(result), board.Trace(), board.Gpio().AccessLog(), board.NowUs(), board.ReservedRanges()};
    board.PowerUp();
    return run;
}

ProcessRun RunExe(Core core, const Bytes& file = TheExecutable(), std::uint32_t refused = 0) {
    host::SimulatedBoard& board = FreshBoard();
    ce_process::ProcessOptions options;
    options.core = core;
    options.refusedCalls = refused;
    return Record(board, ce_process::RunProcess(file, options));
}

ProcessRun RunHostProgram() {
    host::SimulatedBoard& board = FreshBoard();
    ce_process::ProcessResult result;
    result.exitCode = TolvarGPIOTest(nullptr, nullptr, nullptr, 0);
    return Record(board, result);
}

std::string CoreName(const testing::TestParamInfo<Core>& info) {
    return info.param == Core::kPxa255 ? "PXA255" : "PXA270";
}

class OnEachCore : public testing::TestWithParam<Core> {};

// The whole 66 s: the trace, every register access at its virtual time and
// the run's length are the host-built program's, byte for byte, and the
// process ends holding nothing.
TEST_P(OnEachCore, TheExeDoesExactlyWhatTheHostBuiltProgramDoes) {
    ASSERT_FALSE(TheExecutable().empty()) << "no " << CE_EXECUTABLE;
    const ProcessRun host = RunHostProgram();
    const ProcessRun exe = RunExe(GetParam());
    EXPECT_EQ(exe.result.report, "");
    EXPECT_EQ(exe.result.exitCode, 0);
    EXPECT_EQ(exe.trace, host.trace);
    ASSERT_EQ(exe.accesses.size(), host.accesses.size());
    EXPECT_EQ(exe.accesses.size(), 1712u);
    for (std::size_t i = 0; i < exe.accesses.size(); ++i) {
        ASSERT_EQ(host::FormatAccess(exe.accesses[i]), host::FormatAccess(host.accesses[i])) << "access " << i;
        ASSERT_EQ(exe.accesses[i].timeUs, host.accesses[i].timeUs) << "access " << i;
    }
    EXPECT_EQ(exe.endUs, 66000000u);
    EXPECT_EQ(exe.endUs, host.endUs);
    EXPECT_EQ(exe.reservedRanges, 0u);
}

// Each call the program makes can be refused, as a device may refuse it:
// the program takes its error path and gives back what it holds; what it
// does not give back (its release refused) the process reports at the end.
struct RefusedCall {
    const char* name;
    std::uint32_t refused;
    int exitCode;
    std::string trace;
    std::string report;
};

const std::string kNotMapped = "-TolvarGPIO()\r\n+~TolvarGPIO()\r\n-~TolvarGPIO()\r\n\r\n-TolvarGPIOTest\r\n";

const RefusedCall kRefusedCalls[] = {
    {"VirtualAlloc", ce_process::kRefuseVirtualAlloc, 1,
     "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at VirtualAlloc()\r\n" + kNotMapped, ""},
    {"VirtualCopy", ce_process::kRefuseVirtualCopy, 1,
     "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at VirtualCopy()\r\n" + kNotMapped, ""},
    {"LocalAlloc", ce_process::kRefuseLocalAlloc, 1,
     "+TolvarGPIOTest\r\nError! at new TolvarGPIO()\r\n\r\n-TolvarGPIOTest\r\n", ""},
    {"VirtualFree", ce_process::kRefuseVirtualFree, ce_process::kExitLeftBehind, "",
     "the program ended holding 1 reservation(s) and 0 LocalAlloc block(s)\n"},
    {"LocalFree", ce_process::kRefuseLocalFree, ce_process::kExitLeftBehind, "",
     "the program ended holding 0 reservation(s) and 1 LocalAlloc block(s)\n"},
};

TEST_P(OnEachCore, ARefusedCallTakesTheProgramsErrorPathAndWhatIsKeptIsReported) {
    for (const RefusedCall& call : kRefusedCalls) {
        const ProcessRun run = RunExe(GetParam(), TheExecutable(), call.refused);
        EXPECT_EQ(run.result.exitCode, call.exitCode) << call.name;
        EXPECT_EQ(run.result.report, call.report) << call.name;
        if (!call.trace.empty()) {
            EXPECT_EQ(run.trace, call.trace) << call.name;
            EXPECT_TRUE(run.accesses.empty()) << call.name;
        }
        EXPECT_EQ(run.reservedRanges, 0u) << call.name << ": the process's end releases what it held";
    }
}

// Copies of the .exe with one thing wrong: a damaged or foreign file, a
// program that breaks a rule of CE's calls, or one that touches what it was
// not given. Each patch replaces bytes that occur once in the file.
// What another version of the ARM compiler may lay out differently, and a
// patch does not hold it to: where the faulting instruction ends up.
enum class Layout { kExact, kAnyInstructionAddress };

struct Patch {
    const char* name;
    std::string from, to;
    int exitCode;
    std::string report;  // the process's whole report
    Layout layout = Layout::kExact;
};



std::string Word(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string Words(std::initializer_list<std::uint32_t> values) {
    std::string bytes;
    for (std::uint32_t value : values) bytes += Word(value);
    return bytes;
}

const std::string kRefusedFile = "the executable is refused: ";
// WinMainCRTStartup's first instructions: push {r4, r5, r6, lr}; mov r4, sp; bic sp, sp, #7.
constexpr std::uint32_t kPush = 0xE92D4070, kKeepSp = 0xE1A0400D, kAlignSp = 0xE3CDD007;
// MapRegisters: VirtualAlloc(0, 0x10000, MEM_RESERVE, PAGE_NOACCESS), then VirtualCopy.
constexpr std::uint32_t kMovR3NoAccess = 0xE3A03001, kMovR5R0 = 0xE1A05000;
constexpr std::uint32_t kMovR2Reserve = 0xE3A02A02, kMovR1Slot = 0xE3A01801;
constexpr std::uint32_t kSubsR4R0 = 0xE2504000, kBranchIfMapped = 0x1A000004;
constexpr std::uint32_t kMovR2Window = 0xE3A02801, kLoadProtect = 0xE59F3040;
// UnmapRegisters: VirtualFree(base, 0, MEM_RELEASE) as a tail call.
constexpr std::uint32_t kMovR2Release = 0xE3A02902, kMovR1Zero = 0xE3A01000, kTailCallFree = 0xEA000025;
// operator delete: if (p) LocalFree(p).
constexpr std::uint32_t kReturnIfNull = 0x012FFF1E, kTailCallLocalFree = 0xEAFFFFF3;
constexpr std::uint32_t kReturn = 0xE12FFF1E;
// The GPIO unit's physical address in TolvarGPIO's constructor, beside the address of its next message.
constexpr std::uint32_t kConstructorText = 0x0001226C;

const std::string kAllocThenFail = "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\n";

const Patch kPatches[] = {
    // Files CE's loader would not run.
    {"misnamed-import", std::string("VirtualCopy\0", 12), std::string("VirtualCoyp\0", 12), 5,
     kRefusedFile + "import VirtualCoyp from COREDLL.dll is not offered\n"},
    {"thumb-machine", std::string("PE\0\0\xc0\x01", 6), std::string("PE\0\0\xc4\x01", 6), 5,
     kRefusedFile + "machine 0x000001c4 is not ARM (0x000001c0)\n"},
    {"other-library", "COREDLL.dll", "KERNEL32.dl", 5,
     kRefusedFile + "imports from KERNEL32.dl: only COREDLL.dll is offered\n"},
    // .rdata's raw data claimed 1 MiB into the 6 KiB file: refused against
    // the file's own size, not run on zeros.
    {"section-data-past-the-file", std::string(".rdata\0\0", 8), "", 5,
     kRefusedFile + "section .rdata lies outside the file\n"},
    // The entry's "bic sp, sp, #7" made a no-op: the program calls in with
    // the stack as it was handed it, 4 bytes off 8-byte alignment.
    {"entry-keeps-stack", Words({kKeepSp, kAlignSp}), Words({kKeepSp, 0xE1A00000}),
     ce_process::kExitMisalignedStack, "NKDbgPrintfW called with the stack not 8-byte aligned\n"},
    // An entry that returns rather than call ExitThread: what it returns is
    // the exit code (here 3, in place of WinMain's 0).
    // (The branch to WinMain as Debian 12's ARM compiler lays it out: the
    // same pair of words stands twice in another compiler's output.)
    {"entry-returns", Words({0xEB000124, 0xE1A00005}), Words({0xE1A00000, 0xE3A00003}), 3, ""},
    // Calls CE's kernel refuses: reported with their arguments, and the
    // program's error path runs (or what it keeps is reported at its end).
    {"reserve-and-commit", Words({kMovR2Reserve, kMovR1Slot}), Words({0xE3A02A03, kMovR1Slot}), 1,
     "VirtualAlloc(0x00000000, 0x00010000, 0x00003000, 0x00000001) refused\n"},
    {"reserve-read-write", Words({kMovR3NoAccess, kMovR5R0}), Words({0xE3A03004, kMovR5R0}), 1,
     "VirtualAlloc(0x00000000, 0x00010000, 0x00002000, 0x00000004) refused\n"},
    {"map-off-the-base", Words({kSubsR4R0, kBranchIfMapped}), Words({0xE2900010, kBranchIfMapped}), ce_process::kExitLeftBehind, ""},
    {"map-past-the-reservation", Words({kMovR2Window, kLoadProtect}), Words({0xE3A02802, kLoadProtect}), 1,
     "VirtualCopy(0x20000000, 0x0040e000, 0x00020000, 0x00000604) refused\n"},
    {"map-without-physical", Word(0x604), Word(0x204), 1,
     "VirtualCopy(0x20000000, 0x0040e000, 0x00010000, 0x00000204) refused\n"},
    {"map-cached", Word(0x604), Word(0x404), 1,
     "VirtualCopy(0x20000000, 0x0040e000, 0x00010000, 0x00000404) refused\n"},
    {"map-past-the-gpio-unit", Words({0x40E00000, kConstructorText}), Words({0x40E10000, kConstructorText}), 1,
     "VirtualCopy(0x20000000, 0x0040e100, 0x00010000, 0x00000604) refused\n"},
    {"release-with-size", Words({kMovR2Release, kMovR1Zero, kTailCallFree}),
     Words({kMovR2Release, kMovR1Slot, kTailCallFree}), ce_process::kExitLeftBehind,
     "VirtualFree(0x20000000, 0x00010000, 0x00008000) refused\n"
     "the program ended holding 1 reservation(s) and 0 LocalAlloc block(s)\n"},
    {"release-by-decommit", Words({kMovR2Release, kMovR1Zero, kTailCallFree}),
     Words({0xE3A02901, kMovR1Zero, kTailCallFree}), ce_process::kExitLeftBehind,
     "VirtualFree(0x20000000, 0x00000000, 0x00004000) refused\n"
     "the program ended holding 1 reservation(s) and 0 LocalAlloc block(s)\n"},
    {"never-release", Words({kMovR1Zero, kTailCallFree}), Words({kMovR1Zero, kReturn}),
     ce_process::kExitLeftBehind, "the program ended holding 1 reservation(s) and 0 LocalAlloc block(s)\n"},
    {"delete-keeps-the-block", Words({kReturnIfNull, kTailCallLocalFree}), Words({kReturnIfNull, kReturn}),
     ce_process::kExitLeftBehind, "the program ended holding 0 reservation(s) and 1 LocalAlloc block(s)\n"},
    // What CE's access violation stops: a stray read below the image, a
    // write to the program's own code, a jump into its read-only data.
    {"stray-read", Words({kPush, kKeepSp}), Words({kPush, 0xE5104004}), ce_process::kExitAccessViolation,
     "access violation: read of 0x000ffffc (nothing the process was given), "
     "instruction at 0x00101004 (image+0x1004)\n"},
    {"write-to-code", Words({kPush, kKeepSp}), Words({kPush, 0xE58F4000}), ce_process::kExitAccessViolation,
     "access violation: write to 0x0010100c (the program's code), instruction at 0x00101004 (image+0x1004)\n"},
    // GPLR1 read a byte at a time: the GPIO unit takes 32-bit accesses only.
    {"byte-read-of-a-register", Word(0x05930004), Word(0x05D30004), ce_process::kExitBusFault,
     "bus fault: read of 8 bits at offset 0x00000004: the GPIO unit takes 32-bit accesses only, "
     "instruction at 0x0010124c (image+0x124c)\n", Layout::kAnyInstructionAddress},
    {"jump-into-data", Words({kPush, kKeepSp}), Words({kPush, 0xE280FA02}), ce_process::kExitAccessViolation,
     "access violation: instruction fetch from 0x00102000 (the program's data), "
     "instruction at 0x00102000 (image+0x2000)\n"},
};

void PrintTo(const Patch& patch, std::ostream* out) { *out << patch.name; }

class PatchedExecutable : public testing::TestWithParam<std::tuple<Patch, Core>> {};

TEST_P(PatchedExecutable, IsStoppedOrRefusedAndTheProcessSaysWhy) {
    const Patch& patch = std::get<0>(GetParam());
    std::string bytes(TheExecutable().begin(), TheExecutable().end());
    ASSERT_FALSE(bytes.empty()) << "no " << CE_EXECUTABLE;
    const std::size_t at = bytes.find(patch.from);
    ASSERT_NE(at, std::string::npos) << patch.name;
    ASSERT_EQ(bytes.find(patch.from, at + 1), std::string::npos) << patch.name << ": more than one place";
    if (patch.to.empty()) {
        bytes.replace(at + 20, 4, Word(0x100000));  // the section header's PointerToRawData
    } else {
        bytes.replace(at, patch.from.size(), patch.to);
    }
    const ProcessRun run = RunExe(std::get<1>(GetParam()), Bytes(bytes.begin(), bytes.end()));
    EXPECT_EQ(run.result.exitCode, patch.exitCode);
    if (std::string(patch.name) == "map-off-the-base") {
        EXPECT_NE(run.result.report.find("VirtualCopy(0x20000010, 0x0040e000, 0x00010000, 0x00000604) refused\n"),
                  std::string::npos)
            << run.result.report;
    } else if (patch.layout == Layout::kAnyInstructionAddress) {
        const std::size_t named = patch.report.find("instruction at 0x");
        ASSERT_NE(named, std::string::npos) << patch.name;
        EXPECT_EQ(run.result.report.substr(0, named), patch.report.substr(0, named));
        EXPECT_TRUE(std::regex_match(run.result.report.substr(named),
                                     std::regex("instruction at 0x001[0-9a-f]{5} \\(image\\+0x[0-9a-f]+\\)\n")))
            << run.result.report;
    } else {
        EXPECT_EQ(run.result.report, patch.report);
    }
    EXPECT_EQ(run.reservedRanges, 0u);
}

INSTANTIATE_TEST_SUITE_P(CeProcess, OnEachCore, testing::Values(Core::kPxa255, Core::kPxa270), CoreName);

INSTANTIATE_TEST_SUITE_P(CeProcess, PatchedExecutable,
                         testing::Combine(testing::ValuesIn(kPatches), testing::Values(Core::kPxa255, Core::kPxa270)),
                         [](const testing::TestParamInfo<std::tuple<Patch, Core>>& info) {
                             std::string name = std::get<0>(info.param).name;
                             for (char& c : name) c = c == '-' ? '_' : c;
                             return name + (std::get<1>(info.param) == Core::kPxa255 ? "_PXA255" : "_PXA270");
                         });

}  // namespace
