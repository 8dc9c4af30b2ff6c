// Checks the bare board's memory mapping and storage the way the program
// depends on them, on the board itself: a reserved window faults until it is
// mapped and again once it is released, a failed allocation takes the
// routine's error path, and an unhandled abort stops the board with status 3.
// Each check prints "ok NAME" or "FAILED NAME"; the host side reads them.

#include <cstdint>

#include "TolvarGPIOTest.h"
#include "board.h"
#include "platform.h"

using namespace platform;

namespace {

constexpr DWORD kWindow = 0x10000;
constexpr DWORD kDevice = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
constexpr std::uint32_t kGpdr1 = 0x10;
constexpr std::uint32_t kPageTranslationFault = 0x7;

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
    before = aborts;
    WriteRegister32(At(base, kGpdr1), 0x2);
    const std::uint32_t gpdr1 = ReadRegister32(At(base, kGpdr1));
    WriteRegister32(At(base, kGpdr1), 0);
    Check(aborts == before && gpdr1 == 0x2, L"mapped window reaches the GPIO unit");
    Check(VirtualCopy(base, PhysicalPages(0x40E00000), kWindow, kDevice) == 0,
          L"mapping twice is refused");

    Check(VirtualFree(base, 0, MEM_RELEASE) == 1, L"release");
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

void CheckRefusedRequests() {
    Check(VirtualAlloc(nullptr, kWindow + 1, MEM_RESERVE, PAGE_NOACCESS) == nullptr,
          L"oversized reservation is refused");
    Check(VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_READWRITE) == nullptr,
          L"accessible reservation is refused");
    LPVOID base = VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_NOACCESS);
    Check(VirtualCopy(base, PhysicalPages(0x40E00000), kWindow, PAGE_READWRITE | PAGE_PHYSICAL) == 0,
          L"cached device mapping is refused");
    Check(VirtualCopy(base, PhysicalPages(0x40E00100), kWindow, kDevice) == 0,
          L"unaligned physical address is refused");
    Check(VirtualCopy(static_cast<unsigned char*>(base) + 0x1000, PhysicalPages(0x40E00000), 0x1000, kDevice) == 0,
          L"mapping inside a reservation is refused");
    VirtualFree(base, 0, MEM_RELEASE);

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

}  // namespace

int main() {
    board::SetAbortObserver(RecordAbort);
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
