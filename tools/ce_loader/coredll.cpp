#include "coredll.h"

#include <cstdint>

#include "board.h"
#include "debug_format.h"
#include "ffuart.h"
#include "local_heap.h"
#include "platform.h"
#include "virtual_memory.h"

namespace ce_loader {
namespace {

bool virtualCopyRefused = false;
bool virtualFreeRefused = false;

template <typename Function>
std::uint32_t AddressOf(Function* function) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function));
}

}  // namespace
}  // namespace ce_loader

// The calls the program is bound to, through the stack checks of
// call_checks.S (Checked<Call> goes on to Ce<Call>).
extern "C" {
using platform::BOOL;
using platform::DWORD;
using platform::LPVOID;

// Each with the prototype CE documents; every argument is a 32-bit word in
// r0-r3, as in the ARM procedure call standard this code is compiled for.
LPVOID CeVirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    return platform::VirtualAlloc(address, size, allocationType, protect);
}

BOOL CeVirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    if (ce_loader::virtualCopyRefused) return 0;
    return platform::VirtualCopy(destination, source, size, protect);
}

BOOL CeVirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    if (ce_loader::virtualFreeRefused) return 0;
    return platform::VirtualFree(address, size, freeType);
}

void CeSleep(DWORD milliseconds) { platform::Sleep(milliseconds); }

// CE's va_list is a plain pointer to the arguments; its text is UTF-16.
void CeNKvDbgPrintfW(const char16_t* format, const std::uint32_t* args) {
    char text[256];
    board::UartWrite(text, platform::FormatDebugMessage16(text, sizeof text, format, args));
}

void* CeLocalAlloc(DWORD flags, DWORD bytes) { return ce_loader::LocalAllocate(flags, bytes); }

void* CeLocalFree(void* block) { return ce_loader::LocalRelease(block); }

[[noreturn]] void CeExitThread(DWORD exitCode) { ce_loader::EndProgram(static_cast<int>(exitCode)); }

void CheckedVirtualAlloc();
void CheckedVirtualCopy();
void CheckedVirtualFree();
void CheckedSleep();
void CheckedNKvDbgPrintfW();
void CheckedLocalAlloc();
void CheckedLocalFree();
void CheckedExitThread();

[[noreturn]] void OnMisalignedStack(const char* call) {
    ce_loader::WriteText("\r\nLoader: ");
    ce_loader::WriteText(call);
    ce_loader::WriteText(" called with the stack not 8-byte aligned\r\n");
    board::Exit(ce_loader::kExitMisalignedStack);
}
}  // extern "C"

namespace ce_loader {

void WriteText(const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') ++length;
    board::UartWrite(text, length);
}

const Export* CoreLibraryExports(std::size_t& count) {
    static const Export exports[] = {
        {"VirtualAlloc", AddressOf(&CheckedVirtualAlloc)},
        {"VirtualCopy", AddressOf(&CheckedVirtualCopy)},
        {"VirtualFree", AddressOf(&CheckedVirtualFree)},
        {"Sleep", AddressOf(&CheckedSleep)},
        {"NKvDbgPrintfW", AddressOf(&CheckedNKvDbgPrintfW)},
        {"LocalAlloc", AddressOf(&CheckedLocalAlloc)},
        {"LocalFree", AddressOf(&CheckedLocalFree)},
        {"ExitThread", AddressOf(&CheckedExitThread)},
    };
    count = sizeof exports / sizeof exports[0];
    return exports;
}

void RefuseVirtualCopy() { virtualCopyRefused = true; }

void RefuseVirtualFree() { virtualFreeRefused = true; }

void EndProgram(int status) {
    const std::uint32_t reservations = board::WindowSlotsInUse();
    const std::uint32_t blocks = LocalBlocksHeld();
    if (reservations != 0 || blocks != 0) {
        Refusal report;  // a bounded text builder
        report.Add("\r\nLoader: the program ended holding ").AddDecimal(reservations);
        report.Add(" reservation(s) and ").AddDecimal(blocks).Add(" LocalAlloc block(s)\r\n");
        WriteText(report.Text());
        board::Exit(kExitLeftBehind);
    }
    board::Exit(status);
}

}  // namespace ce_loader
