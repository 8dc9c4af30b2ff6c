// Debug print, Sleep and object storage on the bare board.

#include <cstdarg>
#include <cstddef>
#include <new>

#include "debug_format.h"
#include "ffuart.h"
#include "os_timer.h"
#include "platform.h"
#include "processor.h"

namespace platform {
namespace {

// Longest single sleep the 32-bit tick arithmetic covers with room to spare.
constexpr DWORD kLongestSleepMs = 600000;

// Room for one driver object and no more: the program has no other heap.
constexpr std::size_t kObjectStorageSize = 64;
alignas(8) unsigned char objectStorage[kObjectStorageSize];
bool objectStorageInUse = false;

}  // namespace

void NKDbgPrintfW(const wchar_t* format, ...) {
    char text[256];
    std::va_list args;
    va_start(args, format);
    const std::size_t length = FormatDebugMessage(text, sizeof text, format, args);
    va_end(args);
    board::UartWrite(text, length);
}

void Sleep(DWORD milliseconds) {
    while (milliseconds > kLongestSleepMs) {
        board::SleepTicks(board::OsTimerTicks(board::ThisProcessor(), kLongestSleepMs));
        milliseconds -= kLongestSleepMs;
    }
    if (milliseconds > 0) {
        board::SleepTicks(board::OsTimerTicks(board::ThisProcessor(), milliseconds));
    }
}

void* AllocateObjectStorage(std::size_t size) noexcept {
    if (objectStorageInUse || size > kObjectStorageSize) return nullptr;
    objectStorageInUse = true;
    return objectStorage;
}

void FreeObjectStorage(void* storage) noexcept {
    if (storage == objectStorage) objectStorageInUse = false;
}

}  // namespace platform

// The tag object of the nothrow forms of new, which a C++ run-time library
// would define; the board links none.
const std::nothrow_t std::nothrow{};
