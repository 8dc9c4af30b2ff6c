#ifndef TOOLS_CE_PROCESS_CE_PROCESS_H
#define TOOLS_CE_PROCESS_CE_PROCESS_H

// A Windows CE process for the device's own .exe on an emulated XScale core
// (Unicorn): the file read and checked as CE's loader reads it, its sections
// mapped with their own rights, a stack, and the entry called as CE calls a
// program's. Its eight COREDLL imports are served on the simulated board
// (host::SimulatedBoard), with every argument checked as CE's kernel needs
// it; the window VirtualCopy maps is the board's GPIO unit. Anything the
// process was not given, a write to its code or a jump into its data stops
// it as CE's access violation would.

#include <cstdint>
#include <string>
#include <vector>

namespace ce_process {

enum class Core { kPxa255, kPxa270 };

// Calls that can be refused by choice, as a device may refuse them; the
// program's handling of that failure is then what runs. A refused
// VirtualFree or LocalFree keeps what it was handed.
enum RefusedCall : std::uint32_t {
    kRefuseVirtualCopy = 1u << 0,
    kRefuseVirtualFree = 1u << 1,
    kRefuseVirtualAlloc = 1u << 2,
    kRefuseLocalAlloc = 1u << 3,
    kRefuseLocalFree = 1u << 4,
};

struct ProcessOptions {
    Core core = Core::kPxa270;
    std::uint32_t refusedCalls = 0;  // RefusedCall flags
};

// Exit codes of the process's own, beside the program's.
constexpr int kExitRefused = 5;            // the file cannot run
constexpr int kExitLeftBehind = 6;         // ended holding a reservation or a block
constexpr int kExitMisalignedStack = 7;    // called in with sp not 8-byte aligned
constexpr int kExitAccessViolation = 8;    // touched what it was not given
constexpr int kExitBusFault = 9;           // an access the GPIO unit rejects

struct ProcessResult {
    int exitCode = 0;
    // What the process itself has to say (a refused file or call, what was
    // left behind, an access violation), a line each; the program's trace
    // goes to the board.
    std::string report;
};

// The emulated address space: where the image runs (not where it prefers,
// so that every base relocation counts), its stack, heap and COREDLL.
constexpr std::uint32_t kRunAddress = 0x00100000;
constexpr std::uint32_t kImageRoom = 0x00B00000;
constexpr std::uint32_t kHeapBase = 0x00C00000;
constexpr std::uint32_t kStackBase = 0x00E00000;
constexpr std::uint32_t kStackSize = 0x00010000;
constexpr std::uint32_t kCoreLibraryBase = 0x01F00000;

// Runs `file` (the whole .exe, as read once) on the simulated board as the
// caller has set it up (clock, faults, drives, trace capture).
ProcessResult RunProcess(const std::vector<std::uint8_t>& file, const ProcessOptions& options = {});

}  // namespace ce_process

#endif  // TOOLS_CE_PROCESS_CE_PROCESS_H
