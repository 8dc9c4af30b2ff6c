#include "ce_process.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pe_image.h"
#include "process_state.h"

namespace ce_process {
namespace {

constexpr std::uint32_t kPageSize = 0x1000;
constexpr std::uint32_t kHeapBlockSpacing = 0x2000;  // a page between blocks: an overrun faults
constexpr std::uint32_t kCoreCallSize = 8;           // svc #n; bx lr
constexpr std::uint32_t kSupervisorCall = 2;         // Unicorn's interrupt number for svc
constexpr std::uint32_t kUndefinedInstruction = 1;
// WinMainCRTStartup(hInstance, hPrevInstance, lpCmdLine, nCmdShow): the last two.
constexpr std::uint32_t kShowWindow = 5;  // SW_SHOW
constexpr std::uint32_t kStackFill = 0xA5A5A5A5;  // a board's memory is not zero

std::uint32_t RoundUpToPage(std::uint32_t size) { return (size + kPageSize - 1) & ~(kPageSize - 1); }

std::uint32_t PcOf(uc_engine* uc) {
    std::uint32_t pc = 0;
    uc_reg_read(uc, UC_ARM_REG_PC, &pc);
    return pc;
}

int ProtectionOf(std::uint32_t characteristics) {
    int protection = UC_PROT_NONE;
    if ((characteristics & kSectionMayRead) != 0) protection |= UC_PROT_READ;
    if ((characteristics & kSectionMayWrite) != 0) protection |= UC_PROT_WRITE;
    if ((characteristics & kSectionMayExecute) != 0) protection |= UC_PROT_EXEC;
    return protection;
}

std::string Describe(const ProcessState& process, std::uint32_t address) {
    if (address >= kRunAddress && address - kRunAddress < process.imageSize) {
        const std::uint32_t rva = address - kRunAddress;
        for (const SectionPlacement& section : process.sections) {
            if (rva >= section.rva && rva - section.rva < RoundUpToPage(section.virtualSize)) {
                return (section.characteristics & kSectionMayExecute) != 0 ? "the program's code"
                                                                            : "the program's data";
            }
        }
        return "the image, outside its sections";
    }
    if (address >= kStackBase && address - kStackBase < kStackSize) return "the stack";
    for (const Reservation& reservation : process.reservations) {
        if (address - reservation.base < 0x10000u) {
            return reservation.mappedSize == 0 ? "a reservation not mapped" : "a reservation, past its mapping";
        }
    }
    if (address >= kHeapBase && address < kHeapBase + LocalHeap::kBlockCount * kHeapBlockSpacing) {
        return "a heap block not held";
    }
    return "nothing the process was given";
}

std::string WhereInImage(std::uint32_t pc, std::uint32_t imageSize) {
    if (pc < kRunAddress || pc - kRunAddress >= imageSize) return "";
    char text[32];
    std::snprintf(text, sizeof text, " (image+0x%x)", static_cast<unsigned>(pc - kRunAddress));
    return text;
}

void OnInterrupt(uc_engine* uc, std::uint32_t number, void* data) {
    ProcessState& process = *static_cast<ProcessState*>(data);
    // After a svc the PC is past it: the call is the slot it lies in.
    const std::uint32_t at = PcOf(uc) - 4;
    std::size_t count = 0;
    const CoreCall* calls = CoreCalls(count);
    const std::uint32_t slot = (at - kCoreLibraryBase) / kCoreCallSize;
    const bool inCoreLibrary = at >= kCoreLibraryBase && at - kCoreLibraryBase < kPageSize;
    if (number != kSupervisorCall || !inCoreLibrary || (slot >= count && slot != kEntryReturnSlot)) {
        const char* what = number == kUndefinedInstruction ? "undefined instruction" : "exception";
        Report(process, std::string(what) + " " + std::to_string(number) + " at " + Hex8(at + 4) +
                            WhereInImage(at + 4, process.imageSize));
        return Stop(process, kExitAccessViolation);
    }
    if (slot == kEntryReturnSlot) return calls[count - 1].serve(process);  // as ExitThread
    std::uint32_t sp = 0;
    uc_reg_read(uc, UC_ARM_REG_SP, &sp);
    if (sp % 8 != 0) {
        Report(process, std::string(calls[slot].name) + " called with the stack not 8-byte aligned");
        return Stop(process, kExitMisalignedStack);
    }
    calls[slot].serve(process);
}

bool OnInvalidAccess(uc_engine* uc, uc_mem_type type, std::uint64_t address, int, std::int64_t, void* data) {
    ProcessState& process = *static_cast<ProcessState*>(data);
    const char* what = "access to";
    switch (type) {
    case UC_MEM_READ_UNMAPPED:
    case UC_MEM_READ_PROT: what = "read of"; break;
    case UC_MEM_WRITE_UNMAPPED:
    case UC_MEM_WRITE_PROT: what = "write to"; break;
    case UC_MEM_FETCH_UNMAPPED:
    case UC_MEM_FETCH_PROT: what = "instruction fetch from"; break;
    default: break;
    }
    StopOnAccessViolation(process, what, static_cast<std::uint32_t>(address), PcOf(uc));
    return false;
}

// Does nothing: with a code hook on the image Unicorn keeps the PC exact at
// each of its instructions, so that a refused access names its instruction
// rather than the start of its translated block.
void OnInstruction(uc_engine*, std::uint64_t, std::uint32_t, void*) {}

bool MapImage(ProcessState& process, const std::vector<std::uint8_t>& file, const ImageLayout& layout,
              std::string& refusal) {
    std::size_t exportCount = 0;
    const CoreCall* calls = CoreCalls(exportCount);
    std::vector<Export> offered;
    for (std::size_t i = 0; i < exportCount; ++i) {
        offered.push_back({calls[i].name, kCoreLibraryBase + static_cast<std::uint32_t>(i) * kCoreCallSize});
    }
    std::vector<std::uint8_t> image(layout.sizeOfImage);
    Refusal reason;
    if (!LoadImage(file.data(), file.size(), layout, image.data(), kRunAddress, offered.data(), offered.size(),
                   reason)) {
        refusal = reason.Text();
        return false;
    }
    process.imageSize = layout.sizeOfImage;
    process.sections.resize(ListSections(file.data(), nullptr, 0));
    ListSections(file.data(), process.sections.data(), process.sections.size());
    // The headers, read-only, then each section with its own rights.
    const std::uint32_t headerPages = RoundUpToPage(process.sections.front().rva);
    bool mapped = uc_mem_map(process.uc, kRunAddress, headerPages, UC_PROT_READ) == UC_ERR_OK &&
                  uc_mem_write(process.uc, kRunAddress, image.data(), headerPages) == UC_ERR_OK;
    for (const SectionPlacement& section : process.sections) {
        const std::uint32_t size = RoundUpToPage(section.virtualSize);
        if (size == 0 || !mapped) continue;
        mapped = uc_mem_map(process.uc, kRunAddress + section.rva, size, ProtectionOf(section.characteristics)) ==
                     UC_ERR_OK &&
                 uc_mem_write(process.uc, kRunAddress + section.rva, image.data() + section.rva, size) == UC_ERR_OK;
    }
    if (!mapped) refusal = "its sections cannot be mapped where the image runs";
    return mapped;
}

void MapCoreLibrary(uc_engine* uc, std::size_t count) {
    std::vector<std::uint32_t> code(kPageSize / 4, 0xE7F000F0);  // undefined: only the slots run
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        code[slot * 2] = 0xEF000000 | slot;  // svc #slot
        code[slot * 2 + 1] = 0xE12FFF1E;     // bx lr
    }
    code[kEntryReturnSlot * 2] = 0xEF000000 | kEntryReturnSlot;
    uc_mem_map(uc, kCoreLibraryBase, kPageSize, UC_PROT_READ | UC_PROT_EXEC);
    uc_mem_write(uc, kCoreLibraryBase, code.data(), kPageSize);
}

void MapStack(uc_engine* uc) {
    std::vector<std::uint32_t> fill(kStackSize / 4, kStackFill);
    uc_mem_map(uc, kStackBase, kStackSize, UC_PROT_READ | UC_PROT_WRITE);
    uc_mem_write(uc, kStackBase, fill.data(), kStackSize);
}

void EndProcess(ProcessState& process) {
    // What the program still holds goes with it, as at a CE process's end.
    for (const Reservation& reservation : process.reservations) {
        process.board->VirtualFree(reinterpret_cast<void*>(static_cast<std::uintptr_t>(reservation.base)), 0,
                                   platform::MEM_RELEASE);
    }
}

}  // namespace

std::string Hex8(std::uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

void Report(ProcessState& process, const std::string& line) { process.report += line + "\n"; }

void Stop(ProcessState& process, int exitCode) {
    if (!process.ended) {
        process.ended = true;
        process.exitCode = exitCode;
    }
    uc_emu_stop(process.uc);
}

void StopOnAccessViolation(ProcessState& process, const char* what, std::uint32_t address, std::uint32_t pc) {
    if (process.ended) return;
    Report(process, "access violation: " + std::string(what) + " " + Hex8(address) + " (" +
                        Describe(process, address) + "), instruction at " + Hex8(pc) +
                        WhereInImage(pc, process.imageSize));
    Stop(process, kExitAccessViolation);
}

std::uint32_t HeapBlockAddress(std::size_t index) {
    return kHeapBase + static_cast<std::uint32_t>(index) * kHeapBlockSpacing;
}

bool IsGivenMemory(const ProcessState& process, std::uint32_t address, std::uint32_t size) {
    const auto inside = [address, size](std::uint32_t base, std::uint32_t length) {
        return address >= base && size <= length && address - base <= length - size;
    };
    if (inside(kRunAddress, process.imageSize) || inside(kStackBase, kStackSize)) return true;
    for (std::size_t i = 0; i < LocalHeap::kBlockCount; ++i) {
        if (process.heap.Holds(i) && inside(HeapBlockAddress(i), LocalHeap::kBlockSize)) return true;
    }
    return false;
}

ProcessResult RunProcess(const std::vector<std::uint8_t>& file, const ProcessOptions& options) {
    ProcessResult result;
    ImageLayout layout;
    Refusal refusal;
    if (!CheckHeaders(file.data(), file.size(), kImageRoom, layout, refusal)) {
        result.report = "the executable is refused: " + std::string(refusal.Text()) + "\n";
        result.exitCode = kExitRefused;
        return result;
    }
    auto process = std::make_unique<ProcessState>();
    process->options = options;
    process->board = &host::SimulatedBoard::Instance();
    uc_err error = uc_open(UC_ARCH_ARM, UC_MODE_ARM, &process->uc);
    if (error == UC_ERR_OK) {
        error = uc_ctl_set_cpu_model(process->uc, options.core == Core::kPxa255 ? UC_CPU_ARM_PXA255 : UC_CPU_ARM_PXA270);
    }
    if (error != UC_ERR_OK) {
        if (process->uc != nullptr) uc_close(process->uc);
        result.report = std::string("no emulated XScale core: ") + uc_strerror(error) + "\n";
        result.exitCode = kExitRefused;
        return result;
    }
    std::string why;
    if (!MapImage(*process, file, layout, why)) {
        uc_close(process->uc);
        result.report = "the executable is refused: " + why + "\n";
        result.exitCode = kExitRefused;
        return result;
    }
    std::size_t callCount = 0;
    CoreCalls(callCount);
    MapCoreLibrary(process->uc, callCount);
    MapStack(process->uc);

    uc_hook interruptHook = 0, faultHook = 0;
    uc_hook_add(process->uc, &interruptHook, UC_HOOK_INTR, reinterpret_cast<void*>(OnInterrupt), process.get(), 1, 0);
    uc_hook codeHook = 0;
    uc_hook_add(process->uc, &codeHook, UC_HOOK_CODE, reinterpret_cast<void*>(OnInstruction),
                process.get(), kRunAddress, kRunAddress + layout.sizeOfImage - 1);
    uc_hook_add(process->uc, &faultHook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(OnInvalidAccess),
                process.get(), 1, 0);

    // Entered with the stack 4 bytes off 8-byte alignment, as the least
    // helpful caller may: an entry that does not align it shows at its first call.
    const std::uint32_t stackTop = kStackBase + kStackSize;
    const std::uint32_t commandLine = stackTop - 8;  // an empty wide string
    const std::uint32_t empty[2] = {0, 0};
    uc_mem_write(process->uc, commandLine, empty, sizeof empty);
    const std::uint32_t registers[][2] = {
        {UC_ARM_REG_R0, kRunAddress}, {UC_ARM_REG_R1, 0}, {UC_ARM_REG_R2, commandLine},
        {UC_ARM_REG_R3, kShowWindow}, {UC_ARM_REG_SP, commandLine - 4},
        {UC_ARM_REG_LR, kCoreLibraryBase + kEntryReturnSlot * kCoreCallSize},
    };
    for (const auto& reg : registers) uc_reg_write(process->uc, static_cast<int>(reg[0]), &reg[1]);

    host::SimulatedBoard& board = *process->board;
    ProcessState* state = process.get();
    board.SetFaultHandler([state](const std::string& message) {
        const std::uint32_t pc = PcOf(state->uc);
        Report(*state, "bus fault: " + message + ", instruction at " + Hex8(pc) + WhereInImage(pc, state->imageSize));
        Stop(*state, kExitBusFault);
    });
    error = uc_emu_start(process->uc, kRunAddress + layout.entryRva, 0, 0, 0);
    board.SetFaultHandler(nullptr);
    if (!process->ended) {
        // Stopped for a reason no hook saw.
        Report(*process, std::string("the emulated core stopped: ") + uc_strerror(error) + " at " +
                             Hex8(PcOf(process->uc)));
        process->exitCode = kExitAccessViolation;
    } else if (process->exited && (!process->reservations.empty() || process->heap.BlocksHeld() != 0)) {
        Report(*process, "the program ended holding " + std::to_string(process->reservations.size()) +
                             " reservation(s) and " + std::to_string(process->heap.BlocksHeld()) +
                             " LocalAlloc block(s)");
        process->exitCode = kExitLeftBehind;
    }
    EndProcess(*process);
    uc_close(process->uc);
    result.exitCode = process->exitCode;
    result.report = process->report;
    return result;
}

}  // namespace ce_process
