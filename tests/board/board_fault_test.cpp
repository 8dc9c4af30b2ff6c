// Checks the bare board's memory mapping and storage the way the program
// depends on them, on the board itself: a reserved window faults until it is
// mapped and again once it is released, a mapped window's page entries make
// it uncached device memory (which no emulator would show otherwise), as are
// the board support's own devices, the UART keeps the divisor of its baud
// rate (which an emulator ignores), a failed allocation takes the routine's error path, the core is told apart
// and its timer rate kept exact, and an unhandled abort stops the board with
// status 3.
// Each check prints "ok NAME" or "FAILED NAME"; the host side reads them.

#include <cstdint>

#include "TolvarGPIOTest.h"
#include "board.h"
#include "ffuart.h"
#include "mmu.h"
#include "platform.h"
#include "processor.h"
#include "pxa2xx_map.h"
#include "virtual_memory.h"

using namespace platform;

namespace {

constexpr DWORD kWindow = 0x10000;
constexpr DWORD kDevice = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
constexpr std::uint32_t kGpdr1 = 0x10;
constexpr std::uint32_t kPageTranslationFault = 0x7;
constexpr std::uint32_t kGpioUnit = 0x40E00000;
// CE's values; the program itself never passes them.
constexpr DWORD kMemCommit = 0x1000;
constexpr DWORD kMemDecommit = 0x4000;

// Descriptor fields, from the XScale core's MMU.
constexpr std::uint32_t kDescriptorType = 0x3;
constexpr std::uint32_t kCoarseTable = 0x1;
constexpr std::uint32_t kSection = 0x2;
constexpr std::uint32_t kSmallPage = 0x2;
constexpr std::uint32_t kCacheableBufferable = 0xC;
constexpr std::uint32_t kAllSubpagesAccess = 0xFF0;
constexpr std::uint32_t kAllSubpagesPrivilegedRw = 0x550;  // AP = 01 four times
constexpr std::uint32_t kDomainClient = 0x1;
constexpr std::uint32_t kSectionAccess = 0xC00;
constexpr std::uint32_t kSectionPrivilegedRw = 0x400;  // AP = 01
constexpr std::uint32_t kSectionMask = 0xFFF00000;
constexpr std::uint32_t kLcrDivisorLatch = 0x80;
constexpr std::uint32_t kLcr8N1 = 0x03;
constexpr std::uint32_t kDivisor115200 = 8;

int failures = 0;
// Written from the abort handler, behind the compiler's back.
volatile int aborts = 0;
volatile std::uint32_t lastAbortAddress = 0;
volatile std::uint32_t lastAbortStatus = 0;

void RecordAbort(std::uint32_t address, std::uint32_t status) {
    aborts = aborts + 1;
    lastAbortAddress = address;
    lastAbortStatus = status;
}

void Check(bool passed, const wchar_t* name) {
    NKDbgPrintfW(passed ? L"ok " : L"FAILED ");
    NKDbgPrintfW(name);
    NKDbgPrintfW(L"\r\n");
    if (!passed) ++failures;
}

// The abort handler skips the faulting instruction, so each probing access is
// a call of its own: a plain load or store, never one that also updates its
// base register.
[[gnu::noinline]] std::uint32_t Load(volatile std::uint32_t* address) {
    return ReadRegister32(address);
}
[[gnu::noinline]] void Store(volatile std::uint32_t* address, std::uint32_t value) {
    WriteRegister32(address, value);
}

volatile std::uint32_t* At(LPVOID base, std::uint32_t offset) {
    return reinterpret_cast<volatile std::uint32_t*>(static_cast<unsigned char*>(base) + offset);
}

LPVOID PhysicalPages(std::uint32_t address) {
    return reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(address >> 8));
}

// True when exactly one access faulted since `before`, at `address`, as an
// unmapped page does.
bool FaultedOnceAt(int before, volatile std::uint32_t* address) {
    return aborts == before + 1 &&
           lastAbortAddress == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address)) &&
           (lastAbortStatus & 0xF) == kPageTranslationFault;
}

std::uint32_t Address(LPVOID pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// The page entries the core walks for a window onto the GPIO unit: a cached
// or buffered mapping would pass every other test on an emulator, while on
// a board it returns stale levels and merges set and clear writes.
void CheckMappedWindowEntries(LPVOID base) {
    bool onTheUnit = true;
    bool uncached = true;
    bool privileged = true;
    for (std::uint32_t page = 0; page < kWindow; page += board::kPageSize) {
        const std::uint32_t entry = board::WindowPageDescriptor(Address(base) + page);
        onTheUnit = onTheUnit && (entry & kDescriptorType) == kSmallPage &&
                    (entry & ~0xFFFu) == kGpioUnit + page;
        uncached = uncached && (entry & kCacheableBufferable) == 0;
        privileged = privileged && (entry & kAllSubpagesAccess) == kAllSubpagesPrivilegedRw;
    }
    Check(onTheUnit, L"mapped window's pages are the GPIO unit's");
    Check(uncached, L"mapped window is uncached and unbuffered");
    Check(privileged, L"mapped window is privileged read-write");

    const std::uint32_t table = board::FirstLevelDescriptor(Address(base));
    const std::uint32_t domain = (table >> 5) & 0xF;
    std::uint32_t domainAccess;
    asm volatile("mrc p15, 0, %0, c3, c0, 0" : "=r"(domainAccess));
    Check((table & kDescriptorType) == kCoarseTable &&
              ((domainAccess >> (2 * domain)) & 0x3) == kDomainClient,
          L"window area is in a client domain");
}

// The sections of the UART, the OS timer and the interrupt controller: flat,
// and uncached and unbuffered, or on a board the timer reads stale counts,
// a sleep's match or mask write lingers in the write buffer and the UART's
// status reads never change.
void CheckDeviceSections() {
    const struct {
        std::uint32_t base;
        const wchar_t* name;
    } devices[] = {
        {board::kFfuartBase, L"FFUART section is flat, uncached and privileged read-write"},
        {board::kOsTimerBase, L"OS timer section is flat, uncached and privileged read-write"},
        {board::kIntcBase, L"interrupt controller section is flat, uncached and privileged read-write"},
    };
    for (const auto& device : devices) {
        const std::uint32_t entry = board::FirstLevelDescriptor(device.base);
        Check((entry & kDescriptorType) == kSection && (entry & kSectionMask) == device.base &&
                  (entry & kCacheableBufferable) == 0 && (entry & kSectionAccess) == kSectionPrivilegedRw,
              device.name);
    }
}

// An emulated UART sends at any rate; a board's sends at the divisor's:
// 8 gives 115200 Bd from the 14.7456 MHz UART clock. The divisor latch is
// opened only once the transmitter is idle, and closed before anything is
// sent again.
void CheckUartRate() {
    board::UartDrain();
    volatile std::uint32_t* lcr = board::Register(board::kFfuartBase, board::kUartLcr);
    const std::uint32_t lineControl = ReadRegister32(lcr);
    WriteRegister32(lcr, lineControl | kLcrDivisorLatch);
    const std::uint32_t low = ReadRegister32(board::Register(board::kFfuartBase, board::kUartDll));
    const std::uint32_t high = ReadRegister32(board::Register(board::kFfuartBase, board::kUartDlh));
    WriteRegister32(lcr, lineControl);
    Check(lineControl == kLcr8N1 && (low & 0xFF) == kDivisor115200 && (high & 0xFF) == 0, L"FFUART runs at 115200 Bd, 8N1");
}

void CheckWindowLifetime() {
    LPVOID base = VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_NOACCESS);
    Check(base != nullptr, L"reserve");

    int before = aborts;
    Load(At(base, kGpdr1));
    Check(FaultedOnceAt(before, At(base, kGpdr1)), L"read before mapping faults");
    before = aborts;
    Store(At(base, kGpdr1), 0);
    Check(FaultedOnceAt(before, At(base, kGpdr1)), L"write before mapping faults");

    Check(VirtualCopy(base, PhysicalPages(0x40E00000), kWindow, kDevice) == 1, L"map");
    CheckMappedWindowEntries(base);
    before = aborts;
    WriteRegister32(At(base, kGpdr1), 0x2);
    const std::uint32_t gpdr1 = ReadRegister32(At(base, kGpdr1));
    WriteRegister32(At(base, kGpdr1), 0);
    Check(aborts == before && gpdr1 == 0x2, L"mapped window reaches the GPIO unit");
    Check(VirtualCopy(base, PhysicalPages(0x40E00000), kWindow, kDevice) == 0,
          L"mapping twice is refused");

    Check(VirtualFree(base, 0, MEM_RELEASE) == 1, L"release");
    bool allFault = true;
    for (std::uint32_t page = 0; page < kWindow; page += board::kPageSize) {
        allFault = allFault && (board::WindowPageDescriptor(Address(base) + page) & kDescriptorType) == 0;
    }
    Check(allFault, L"released window's page entries fault");
    before = aborts;
    Load(At(base, kGpdr1));
    Check(FaultedOnceAt(before, At(base, kGpdr1)), L"read after release faults");
    before = aborts;
    Store(At(base, 0xFFFC), 0);
    Check(FaultedOnceAt(before, At(base, 0xFFFC)), L"write to the last word after release faults");
    Check(VirtualFree(base, 0, MEM_RELEASE) == 0, L"second release is refused");
    Check(VirtualCopy(base, PhysicalPages(0x40E00000), kWindow, kDevice) == 0,
          L"mapping a released range is refused");
}

// What CE's kernel would refuse, refused by the board too, so that a wrong
// call from the program on the bare board fails there as it would on CE.
void CheckRefusedRequests() {
    Check(VirtualAlloc(nullptr, kWindow + 1, MEM_RESERVE, PAGE_NOACCESS) == nullptr,
          L"oversized reservation is refused");
    Check(VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_READWRITE) == nullptr,
          L"accessible reservation is refused");
    Check(VirtualAlloc(nullptr, kWindow, kMemCommit, PAGE_NOACCESS) == nullptr &&
              VirtualAlloc(nullptr, kWindow, kMemCommit | MEM_RESERVE, PAGE_NOACCESS) == nullptr,
          L"committed memory is refused: a window is reserved only");
    Check(VirtualAlloc(reinterpret_cast<LPVOID>(0x60000000), kWindow, MEM_RESERVE, PAGE_NOACCESS) == nullptr,
          L"reservation at an address of the caller's choice is refused");
    LPVOID base = VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_NOACCESS);
    Check(board::WindowSlotsInUse() == 1, L"a reservation is counted as held");
    Check(VirtualCopy(base, PhysicalPages(0x40E00000), kWindow, PAGE_READWRITE | PAGE_PHYSICAL) == 0,
          L"cached device mapping is refused");
    Check(VirtualCopy(base, reinterpret_cast<LPVOID>(0x40E00000), kWindow, PAGE_READWRITE | PAGE_NOCACHE) == 0,
          L"mapping without PAGE_PHYSICAL is refused");
    Check(VirtualCopy(base, PhysicalPages(0x40E00000), kWindow, kDevice & ~PAGE_READWRITE) == 0,
          L"mapping without read-write access is refused");
    Check(VirtualCopy(base, PhysicalPages(0x40E00100), kWindow, kDevice) == 0,
          L"unaligned physical address is refused");
    Check(VirtualCopy(base, PhysicalPages(0xA0000000), kWindow, kDevice) == 0 &&
              VirtualCopy(base, PhysicalPages(0x40100000), 0x1000, kDevice) == 0,
          L"mapping memory or a device other than the GPIO unit is refused");
    Check(VirtualCopy(base, PhysicalPages(0x40E08000), kWindow, kDevice) == 0,
          L"mapping past the end of the GPIO unit is refused");
    Check(VirtualCopy(static_cast<unsigned char*>(base) + 0x1000, PhysicalPages(0x40E00000), 0x1000, kDevice) == 0,
          L"mapping inside a reservation is refused");
    Check(VirtualFree(base, kWindow, MEM_RELEASE) == 0, L"release with a size is refused");
    Check(VirtualFree(base, 0, kMemDecommit) == 0, L"decommit is refused: a window goes back whole");
    Check(board::WindowSlotsInUse() == 1, L"a refused release keeps the reservation");
    Check(VirtualFree(base, 0, MEM_RELEASE) == 1 && board::WindowSlotsInUse() == 0,
          L"release leaves nothing held");

    LPVOID held[17];
    int count = 0;
    while (count < 17 && (held[count] = VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_NOACCESS)) != nullptr) {
        ++count;
    }
    Check(count == 16, L"the window area holds sixteen reservations");
    for (int i = 0; i < count; ++i) VirtualFree(held[i], 0, MEM_RELEASE);
}

void CheckStorageExhaustion() {
    void* held = AllocateObjectStorage(1);
    Check(held != nullptr, L"storage for one object");
    Check(AllocateObjectStorage(1) == nullptr, L"no storage for a second object");
    // The routine must report the failed allocation and touch nothing.
    Check(TolvarGPIOTest(nullptr, nullptr, nullptr, 0) == 1, L"routine fails without storage");
    FreeObjectStorage(held);
    held = AllocateObjectStorage(1);
    Check(held != nullptr, L"storage is reusable after free");
    FreeObjectStorage(held);
}

// Processor IDs as the manuals give them: the PXA255 (A0) and PXA270 (C5)
// that QEMU models, an ARM926 and a third-generation XScale (PXA3xx); and
// the timer's rate on each, with no per-millisecond rounding.
void CheckProcessorAndTimerRate() {
    using board::Processor;
    Check(board::IdentifyProcessor(0x69052D06) == Processor::kPxa25x &&
              board::IdentifyProcessor(0x69054117) == Processor::kPxa27x &&
              board::IdentifyProcessor(0x41069265) == Processor::kUnknown &&
              board::IdentifyProcessor(0x69056891) == Processor::kUnknown,
          L"processors told apart by their main ID");
    Check(board::ThisProcessor() == board::IdentifyProcessor(board::ReadMainId()) &&
              board::ThisProcessor() != Processor::kUnknown,
          L"this core is identified");
    Check(board::OsTimerTicks(Processor::kPxa25x, 500) == 1843200 &&
              board::OsTimerTicks(Processor::kPxa25x, 10) == 36864 &&
              board::OsTimerTicks(Processor::kPxa25x, 1) == 3687 &&
              board::OsTimerTicks(Processor::kPxa25x, 600000) == 2211840000u,
          L"PXA25x timer ticks at 3.6864 MHz");
    Check(board::OsTimerTicks(Processor::kPxa27x, 500) == 1625000 &&
              board::OsTimerTicks(Processor::kPxa27x, 10) == 32500 &&
              board::OsTimerTicks(Processor::kPxa27x, 600000) == 1950000000u,
          L"PXA27x timer ticks at 3.25 MHz");
}

}  // namespace

int main() {
    board::SetAbortObserver(RecordAbort);
    CheckProcessorAndTimerRate();
    CheckDeviceSections();
    CheckUartRate();
    CheckWindowLifetime();
    CheckRefusedRequests();
    CheckStorageExhaustion();
    NKDbgPrintfW(L"%i failed\r\n", failures);

    // Last, an abort nobody handles: the board must report it and stop.
    board::SetAbortObserver(nullptr);
    LPVOID base = VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_NOACCESS);
    ReadRegister32(At(base, kGpdr1));
    NKDbgPrintfW(L"FAILED unhandled abort stops the board\r\n");
    return 0;
}
