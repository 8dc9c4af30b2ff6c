// The platform calls of the host build, all acting on the simulated board.

#include <cstdarg>

#include "debug_format.h"
#include "platform.h"
#include "simulated_board.h"

namespace platform {
namespace {

host::SimulatedBoard& Board() { return host::SimulatedBoard::Instance(); }

}  // namespace

void NKDbgPrintfW(const wchar_t* format, ...) {
    char text[512];
    std::va_list args;
    va_start(args, format);
    const std::size_t length = FormatDebugMessage(text, sizeof text, format, args);
    va_end(args);
    Board().Print(text, length);
}

void Sleep(DWORD milliseconds) { Board().Sleep(milliseconds); }

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    return Board().VirtualAlloc(address, size, allocationType, protect);
}

BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    return Board().VirtualCopy(destination, source, size, protect);
}

BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    return Board().VirtualFree(address, size, freeType);
}

void* AllocateObjectStorage(std::size_t size) noexcept { return Board().AllocateObject(size); }

void FreeObjectStorage(void* storage) noexcept { Board().FreeObject(storage); }

std::uint32_t ReadRegister32(const volatile std::uint32_t* reg) { return Board().BusRead(reg); }

void WriteRegister32(volatile std::uint32_t* reg, std::uint32_t value) {
    Board().BusWrite(reg, value);
}

}  // namespace platform
