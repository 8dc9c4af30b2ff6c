// The eight COREDLL calls a CE process offers, served on the simulated
// board. Each argument is checked as CE's kernel needs it, beyond what the
// board itself accepts; a memory call refused is reported with its
// arguments and fails for the program, which then takes its error path.

#include <cstddef>
#include <cstdint>
#include <string>

#include "debug_format.h"
#include "platform.h"
#include "process_state.h"
#include "pxa_gpio_model.h"

namespace ce_process {
namespace {

constexpr std::uint32_t kSlotSize = 0x10000;  // what VirtualAlloc hands out
constexpr std::uint32_t kPageSize = 0x1000;
constexpr std::uint32_t kDeviceMapping =
    platform::PAGE_READWRITE | platform::PAGE_NOCACHE | platform::PAGE_PHYSICAL;
constexpr std::uint32_t kLargestPhysicalPageNumber = 0xFFFFFFFFu >> 8;
// Longest text NKDbgPrintfW reads, in UTF-16 units; the rest is cut.
constexpr std::uint32_t kLongestText = 512;

std::uint32_t Register(const ProcessState& process, int reg) {
    std::uint32_t value = 0;
    uc_reg_read(process.uc, reg, &value);
    return value;
}

std::uint32_t Argument(const ProcessState& process, int index) {
    static const int kArguments[] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
    return Register(process, kArguments[index]);
}

void Return(ProcessState& process, std::uint32_t value) { uc_reg_write(process.uc, UC_ARM_REG_R0, &value); }

bool Refused(const ProcessState& process, RefusedCall call) {
    return (process.options.refusedCalls & call) != 0;
}

void ReportRefused(ProcessState& process, const char* call, int argumentCount) {
    std::string line = std::string(call) + "(";
    for (int i = 0; i < argumentCount; ++i) line += (i == 0 ? "0x" : ", 0x") + Hex8(Argument(process, i)).substr(2);
    Report(process, line + ") refused");
}

Reservation* ReservationAt(ProcessState& process, std::uint32_t base) {
    for (Reservation& reservation : process.reservations) {
        if (reservation.base == base) return &reservation;
    }
    return nullptr;
}

void* HostAddress(std::uint32_t address) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
}

// The GPIO unit's window, as the simulated board holds it.
std::uint64_t ReadWindow(uc_engine*, std::uint64_t offset, unsigned size, void* data) {
    const auto* window = static_cast<const MappedWindow*>(data);
    // Only 32-bit accesses reach a register: the model refuses the rest as the bus does.
    if (size != 4) return window->process->board->Gpio().Read(static_cast<std::uint32_t>(offset), size);
    const auto* reg = static_cast<const volatile std::uint32_t*>(
        HostAddress(window->base + static_cast<std::uint32_t>(offset)));
    return window->process->board->BusRead(reg);
}

void WriteWindow(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value, void* data) {
    const auto* window = static_cast<const MappedWindow*>(data);
    if (size != 4) {
        return window->process->board->Gpio().Write(static_cast<std::uint32_t>(offset),
                                                    static_cast<std::uint32_t>(value), size);
    }
    auto* reg = static_cast<volatile std::uint32_t*>(HostAddress(window->base + static_cast<std::uint32_t>(offset)));
    window->process->board->BusWrite(reg, static_cast<std::uint32_t>(value));
}

void ServeVirtualAlloc(ProcessState& process) {
    const std::uint32_t address = Argument(process, 0), size = Argument(process, 1);
    const std::uint32_t type = Argument(process, 2), protect = Argument(process, 3);
    if (Refused(process, kRefuseVirtualAlloc)) return Return(process, 0);
    // A reservation anywhere the system chooses, inaccessible until mapped.
    void* base = nullptr;
    if (address == 0 && size != 0 && size <= kSlotSize && type == platform::MEM_RESERVE &&
        protect == platform::PAGE_NOACCESS) {
        base = process.board->VirtualAlloc(nullptr, size, type, protect);
    }
    const auto value = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(base));
    if (base == nullptr || value > 0xFFFFFFFFu - kSlotSize || value < kCoreLibraryBase + kPageSize) {
        if (base != nullptr) process.board->VirtualFree(base, 0, platform::MEM_RELEASE);
        ReportRefused(process, "VirtualAlloc", 4);
        return Return(process, 0);
    }
    process.reservations.push_back({static_cast<std::uint32_t>(value), 0});
    Return(process, static_cast<std::uint32_t>(value));
}

bool HoldsTheGpioUnit(std::uint32_t physical, std::uint32_t size) {
    constexpr std::uint32_t base = host::PxaGpioModel::kPhysicalBase;
    constexpr std::uint32_t unit = host::PxaGpioModel::kWindowSize;
    return physical >= base && size <= unit && physical - base <= unit - size;
}

void ServeVirtualCopy(ProcessState& process) {
    const std::uint32_t destination = Argument(process, 0), pageNumber = Argument(process, 1);
    const std::uint32_t size = Argument(process, 2), protect = Argument(process, 3);
    if (Refused(process, kRefuseVirtualCopy)) return Return(process, 0);
    Reservation* reservation = ReservationAt(process, destination);
    // Whole uncached pages of the GPIO unit, at the base of a reservation not yet mapped.
    const bool acceptable = reservation != nullptr && reservation->mappedSize == 0 &&
                            protect == kDeviceMapping && size != 0 && size <= kSlotSize &&
                            size % kPageSize == 0 && pageNumber <= kLargestPhysicalPageNumber &&
                            HoldsTheGpioUnit(pageNumber << 8, size);
    std::size_t slot = 0;
    while (slot < kMostWindows && process.windows[slot].process != nullptr) ++slot;
    if (!acceptable || slot == kMostWindows ||
        process.board->VirtualCopy(HostAddress(destination), HostAddress(pageNumber), size, protect) != 1) {
        ReportRefused(process, "VirtualCopy", 4);
        return Return(process, 0);
    }
    MappedWindow& window = process.windows[slot];
    window = {&process, destination};
    if (uc_mmio_map(process.uc, destination, size, ReadWindow, &window, WriteWindow, &window) != UC_ERR_OK) {
        window = {};
        ReportRefused(process, "VirtualCopy", 4);
        return Return(process, 0);
    }
    reservation->mappedSize = size;
    Return(process, 1);
}

void ServeVirtualFree(ProcessState& process) {
    const std::uint32_t address = Argument(process, 0), size = Argument(process, 1);
    const std::uint32_t type = Argument(process, 2);
    if (Refused(process, kRefuseVirtualFree)) return Return(process, 0);
    Reservation* reservation = ReservationAt(process, address);
    if (reservation == nullptr || size != 0 || type != platform::MEM_RELEASE ||
        process.board->VirtualFree(HostAddress(address), size, type) != 1) {
        ReportRefused(process, "VirtualFree", 3);
        return Return(process, 0);
    }
    if (reservation->mappedSize != 0) {
        uc_mem_unmap(process.uc, address, reservation->mappedSize);
        for (MappedWindow& window : process.windows) {
            if (window.base == address) window = {};
        }
    }
    process.reservations.erase(process.reservations.begin() + (reservation - process.reservations.data()));
    Return(process, 1);
}

void ServeSleep(ProcessState& process) { process.board->Sleep(Argument(process, 0)); }

// A C variadic call: the words after the format in r1-r3, then on the
// stack; %s text is UTF-16 in the program's memory.
class EmulatedArguments : public platform::DebugArguments16 {
public:
    explicit EmulatedArguments(ProcessState& process)
        : process_(process), stack_(Register(process, UC_ARM_REG_SP)) {}

    std::uint32_t Next() override {
        const int index = next_++;
        if (index < 3) return Argument(process_, index + 1);
        const std::uint32_t at = stack_ + 4u * static_cast<std::uint32_t>(index - 3);
        std::uint32_t word = 0;
        if (!IsGivenMemory(process_, at, 4)) {
            badAddress_ = badAddress_ != 0 ? badAddress_ : at;
            return 0;
        }
        uc_mem_read(process_.uc, at, &word, 4);
        return word;
    }

    const char16_t* NextText() override {
        const std::uint32_t at = Next();
        if (!ReadText(at, text_)) return u"";
        return text_.c_str();
    }

    // Text of at most kLongestText units from the program's memory.
    bool ReadText(std::uint32_t at, std::u16string& text) {
        text.clear();
        for (std::uint32_t i = 0; i < kLongestText; ++i) {
            const std::uint32_t unitAt = at + 2 * i;
            char16_t unit = 0;
            if (!IsGivenMemory(process_, unitAt, 2)) {
                badAddress_ = badAddress_ != 0 ? badAddress_ : unitAt;
                return false;
            }
            uc_mem_read(process_.uc, unitAt, &unit, 2);
            if (unit == 0) return true;
            text.push_back(unit);
        }
        return true;
    }

    std::uint32_t BadAddress() const { return badAddress_; }

private:
    ProcessState& process_;
    std::uint32_t stack_;
    int next_ = 0;
    std::u16string text_;
    std::uint32_t badAddress_ = 0;
};

void ServeNKDbgPrintfW(ProcessState& process) {
    EmulatedArguments arguments(process);
    std::u16string format;
    char text[512];  // as the host build renders it
    std::size_t length = 0;
    if (arguments.ReadText(Argument(process, 0), format)) {
        length = platform::FormatDebugMessage16(text, sizeof text, format.c_str(), arguments);
    }
    if (arguments.BadAddress() != 0) {
        // The kernel reads it on the caller's behalf: the fault is the caller's call.
        return StopOnAccessViolation(process, "read (by NKDbgPrintfW) of", arguments.BadAddress(),
                                     Register(process, UC_ARM_REG_LR) - 4);
    }
    process.board->Print(text, length);
}

void ServeLocalAlloc(ProcessState& process) {
    const std::uint32_t flags = Argument(process, 0), bytes = Argument(process, 1);
    if (Refused(process, kRefuseLocalAlloc)) return Return(process, 0);
    void* block = process.heap.Allocate(flags, bytes);
    if (block == nullptr) {
        ReportRefused(process, "LocalAlloc", 2);
        return Return(process, 0);
    }
    const std::uint32_t address = HeapBlockAddress(process.heap.IndexOf(block));
    uc_mem_map_ptr(process.uc, address, LocalHeap::kBlockSize, UC_PROT_READ | UC_PROT_WRITE, block);
    Return(process, address);
}

// CE's LocalFree returns null when it freed the block, the block itself when not.
void ServeLocalFree(ProcessState& process) {
    const std::uint32_t address = Argument(process, 0);
    if (Refused(process, kRefuseLocalFree)) return Return(process, address);
    if (address == 0) return Return(process, 0);  // as LocalFree(NULL) does
    std::size_t index = 0;
    while (index < LocalHeap::kBlockCount && HeapBlockAddress(index) != address) ++index;
    if (index == LocalHeap::kBlockCount || process.heap.Release(process.heap.BlockAt(index)) != nullptr) {
        ReportRefused(process, "LocalFree", 1);
        return Return(process, address);
    }
    uc_mem_unmap(process.uc, address, LocalHeap::kBlockSize);
    Return(process, 0);
}

void ServeExitThread(ProcessState& process) {
    process.exited = !process.ended;
    Stop(process, static_cast<int>(Argument(process, 0)));
}

const CoreCall kCoreCalls[] = {
    {"VirtualAlloc", ServeVirtualAlloc}, {"VirtualCopy", ServeVirtualCopy},
    {"VirtualFree", ServeVirtualFree},   {"Sleep", ServeSleep},
    {"NKDbgPrintfW", ServeNKDbgPrintfW}, {"LocalAlloc", ServeLocalAlloc},
    {"LocalFree", ServeLocalFree},       {"ExitThread", ServeExitThread},
};

}  // namespace

const CoreCall* CoreCalls(std::size_t& count) {
    count = sizeof kCoreCalls / sizeof kCoreCalls[0];
    return kCoreCalls;
}

}  // namespace ce_process
