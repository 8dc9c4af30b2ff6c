#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

// The operating-system services the program uses, under the names and
// signatures of the Windows CE core library, so that the driver and the main
// routine read as target code. Every place the program runs links exactly one
// backend that defines these functions; callers never know which.

#include <cstddef>
#include <cstdint>

namespace platform {

using DWORD = std::uint32_t;
using BOOL = int;
using LPVOID = void*;

constexpr DWORD MEM_RESERVE = 0x2000;
constexpr DWORD MEM_RELEASE = 0x8000;
constexpr DWORD PAGE_NOACCESS = 0x01;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_NOCACHE = 0x200;
constexpr DWORD PAGE_PHYSICAL = 0x400;  // VirtualCopy source is a physical address >> 8

// Debug output channel. printf-style wide format with %i, %d, %u, %x, %X,
// the '0' and '-' flags and a width; arguments are 32-bit ints. The text goes
// out exactly as rendered: no line ending is added.
void NKDbgPrintfW(const wchar_t* format, ...);

// Blocks the calling thread for the given number of milliseconds.
void Sleep(DWORD milliseconds);

// Reserves a range of virtual address space; 0 on failure.
LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect);

// Backs a reserved range with physical pages. Returns exactly 1 on success.
BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect);

// Releases a range made by VirtualAlloc (size 0, MEM_RELEASE).
BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType);

// Storage for the driver object: null when exhausted, never throws.
void* AllocateObjectStorage(std::size_t size) noexcept;
void FreeObjectStorage(void* storage) noexcept;

}  // namespace platform

// The single 32-bit register load and store, ReadRegister32/WriteRegister32.
// Each backend supplies this header: an out-of-line call into the device model
// on the host, one volatile load or store on hardware.
#include "platform_backend/register_access.h"

#endif  // PLATFORM_PLATFORM_H
