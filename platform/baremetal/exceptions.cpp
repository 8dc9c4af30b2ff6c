// What the board does with processor exceptions: say what happened and
// where on the debug UART, then stop the program with a non-zero status, so
// a fault can neither pass unnoticed nor hang the board.

#include <cstdint>

#include "board.h"
#include "platform.h"
#include "semihosting.h"

namespace board {
namespace {

AbortObserver abortObserver = nullptr;

std::uint32_t FaultAddress() {
    std::uint32_t value;
    asm volatile("mrc p15, 0, %0, c6, c0, 0" : "=r"(value));
    return value;
}

std::uint32_t FaultStatus() {
    std::uint32_t value;
    asm volatile("mrc p15, 0, %0, c5, c0, 0" : "=r"(value));
    return value;
}

// The fault status field: FSR bits 3:0, and bit 10 on the XScale.
const wchar_t* DescribeFault(std::uint32_t status) {
    switch ((status & 0xF) | ((status >> 6) & 0x10)) {
        case 0x1:
        case 0x3: return L"alignment fault";
        case 0x5: return L"section translation fault";
        case 0x7: return L"page translation fault";
        case 0x9: return L"section domain fault";
        case 0xB: return L"page domain fault";
        case 0xD: return L"section permission fault";
        case 0xF: return L"page permission fault";
        case 0x8:
        case 0xA: return L"external abort";
        case 0xC:
        case 0xE: return L"external abort on table walk";
        default: return L"abort";
    }
}

[[noreturn]] void Stop() { Exit(kExitProcessorException); }

}  // namespace

void SetAbortObserver(AbortObserver observer) { abortObserver = observer; }

}  // namespace board

using board::ExceptionFrame;
using platform::NKDbgPrintfW;

// Progress lines end in a bare carriage return, hence the line feed first.
extern "C" void OnDataAbort(ExceptionFrame* frame) {
    const std::uint32_t address = board::FaultAddress();
    const std::uint32_t status = board::FaultStatus();
    NKDbgPrintfW(L"\r\nData abort: ");
    NKDbgPrintfW(board::DescribeFault(status));
    NKDbgPrintfW(L" at address 0x%08x (FSR 0x%03x), instruction at 0x%08x\r\n",
                 static_cast<unsigned>(address), static_cast<unsigned>(status),
                 static_cast<unsigned>(frame->pc));
    if (board::abortObserver == nullptr) board::Stop();
    board::abortObserver(address, status);
}

extern "C" void OnSupervisorCall(ExceptionFrame* frame) {
    const std::uint32_t instruction = *reinterpret_cast<const std::uint32_t*>(frame->pc);
    if ((instruction & 0xFFFFFF) == board::kSemihostingTrap) return;  // no debugger attached
    NKDbgPrintfW(L"\r\nUnexpected SVC 0x%06x at 0x%08x\r\n",
                 static_cast<unsigned>(instruction & 0xFFFFFF), static_cast<unsigned>(frame->pc));
    board::Stop();
}

extern "C" void OnUndefinedInstruction(ExceptionFrame* frame) {
    NKDbgPrintfW(L"\r\nUndefined instruction 0x%08x at 0x%08x\r\n",
                 static_cast<unsigned>(*reinterpret_cast<const std::uint32_t*>(frame->pc)),
                 static_cast<unsigned>(frame->pc));
    board::Stop();
}

extern "C" void OnPrefetchAbort(ExceptionFrame* frame) {
    NKDbgPrintfW(L"\r\nPrefetch abort: instruction at 0x%08x\r\n", static_cast<unsigned>(frame->pc));
    board::Stop();
}

extern "C" void OnUnexpectedInterrupt(ExceptionFrame* frame) {
    NKDbgPrintfW(L"\r\nUnexpected interrupt near 0x%08x\r\n", static_cast<unsigned>(frame->pc));
    board::Stop();
}

extern "C" void OnUnexpectedException(ExceptionFrame* frame) {
    NKDbgPrintfW(L"\r\nUnexpected exception near 0x%08x\r\n", static_cast<unsigned>(frame->pc));
    board::Stop();
}
