#include "coredll.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "board.h"
#include "debug_format.h"
#include "ffuart.h"
#include "loader_memory.h"
#include "local_heap.h"
#include "platform.h"
#include "virtual_memory.h"

namespace ce_loader {
namespace {

// The calls refused by choice (loader_memory.h's kOptionRefuse* flags).
std::uint32_t refusedCalls = 0;

bool Refused(std::uint32_t option) { return (refusedCalls & option) != 0; }

// A memory call the board would not honour: CE would have refused it too
// (wrong type, protection, size or range, or nothing left). The program sees
// the failure; the report says which call and arguments it was.
void ReportRefusedCall(const char* call, std::uint32_t a0, std::uint32_t a1, std::uint32_t a2,
                       std::uint32_t a3, int argumentCount) {
    const std::uint32_t arguments[] = {a0, a1, a2, a3};
    Refusal report;  // a bounded text builder
    report.Add("\r\nLoader: ").Add(call).Add("(");
    for (int i = 0; i < argumentCount; ++i) report.Add(i == 0 ? "0x" : ", 0x").AddHex(arguments[i]);
    WriteText(report.Add(") refused\r\n").Text());
}

std::uint32_t Word(const void* pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

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
// The board's VirtualAlloc, VirtualCopy and VirtualFree check every argument
// as CE's kernel needs it (platform/baremetal/virtual_memory.cpp); a call
// they refuse is reported here.
LPVOID CeVirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    using namespace ce_loader;
    if (Refused(kOptionRefuseVirtualAlloc)) return nullptr;
    LPVOID base = platform::VirtualAlloc(address, size, allocationType, protect);
    if (base == nullptr) ReportRefusedCall("VirtualAlloc", Word(address), size, allocationType, protect, 4);
    return base;
}

BOOL CeVirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    using namespace ce_loader;
    if (Refused(kOptionRefuseVirtualCopy)) return 0;
    const BOOL mapped = platform::VirtualCopy(destination, source, size, protect);
    if (!mapped) ReportRefusedCall("VirtualCopy", Word(destination), Word(source), size, protect, 4);
    return mapped;
}

BOOL CeVirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    using namespace ce_loader;
    if (Refused(kOptionRefuseVirtualFree)) return 0;
    const BOOL released = platform::VirtualFree(address, size, freeType);
    if (!released) ReportRefusedCall("VirtualFree", Word(address), size, freeType, 0, 3);
    return released;
}

void CeSleep(DWORD milliseconds) { platform::Sleep(milliseconds); }

// A C variadic call, as CE's ARM calling convention and this code's agree on
// for word-sized arguments; the text is UTF-16.
void CeNKDbgPrintfW(const char16_t* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const std::size_t length = platform::FormatDebugMessage16(text, sizeof text, format, args);
    va_end(args);
    board::UartWrite(text, length);
}

void* CeLocalAlloc(DWORD flags, DWORD bytes) {
    using namespace ce_loader;
    if (Refused(kOptionRefuseLocalAlloc)) return nullptr;
    void* block = LocalAllocate(flags, bytes);
    if (block == nullptr) ReportRefusedCall("LocalAlloc", flags, bytes, 0, 0, 2);
    return block;
}

// CE's LocalFree returns null when it freed the block, the block itself when not.
void* CeLocalFree(void* block) {
    using namespace ce_loader;
    if (Refused(kOptionRefuseLocalFree)) return block;
    void* kept = LocalRelease(block);
    if (kept != nullptr) ReportRefusedCall("LocalFree", Word(block), 0, 0, 0, 1);
    return kept;
}

[[noreturn]] void CeExitThread(DWORD exitCode) { ce_loader::EndProgram(static_cast<int>(exitCode)); }

void CheckedVirtualAlloc();
void CheckedVirtualCopy();
void CheckedVirtualFree();
void CheckedSleep();
void CheckedNKDbgPrintfW();
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
        {"NKDbgPrintfW", AddressOf(&CheckedNKDbgPrintfW)},
        {"LocalAlloc", AddressOf(&CheckedLocalAlloc)},
        {"LocalFree", AddressOf(&CheckedLocalFree)},
        {"ExitThread", AddressOf(&CheckedExitThread)},
    };
    count = sizeof exports / sizeof exports[0];
    return exports;
}

void RefuseCalls(std::uint32_t options) { refusedCalls = options; }

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
