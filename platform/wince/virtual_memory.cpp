// Reserving, mapping and releasing virtual ranges, straight through COREDLL.

#include "platform.h"

namespace {

// The facade's constants, taken while their names still mean the facade's:
// once <windows.h> is in, MEM_RESERVE and the rest are macros.
constexpr platform::DWORD kMemReserve = platform::MEM_RESERVE;
constexpr platform::DWORD kMemRelease = platform::MEM_RELEASE;
constexpr platform::DWORD kPageNoAccess = platform::PAGE_NOACCESS;
constexpr platform::DWORD kPageReadWrite = platform::PAGE_READWRITE;
constexpr platform::DWORD kPageNoCache = platform::PAGE_NOCACHE;
constexpr platform::DWORD kPagePhysical = platform::PAGE_PHYSICAL;

}  // namespace

#include "coredll.h"

// The driver passes the facade's values through untouched, so each must be
// the one COREDLL expects.
static_assert(kMemReserve == MEM_RESERVE, "MEM_RESERVE differs from the platform's");
static_assert(kMemRelease == MEM_RELEASE, "MEM_RELEASE differs from the platform's");
static_assert(kPageNoAccess == PAGE_NOACCESS, "PAGE_NOACCESS differs from the platform's");
static_assert(kPageReadWrite == PAGE_READWRITE, "PAGE_READWRITE differs from the platform's");
static_assert(kPageNoCache == PAGE_NOCACHE, "PAGE_NOCACHE differs from the platform's");
static_assert(kPagePhysical == PAGE_PHYSICAL, "PAGE_PHYSICAL differs from the platform's");
static_assert(PAGE_PHYSICAL == 0x400, "PAGE_PHYSICAL is 0x400 on Windows CE");

// The facade's types stand for the platform's on a 32-bit target.
static_assert(sizeof(platform::DWORD) == sizeof(DWORD), "DWORD is 32 bits");
static_assert(sizeof(platform::BOOL) == sizeof(BOOL), "BOOL is an int");
static_assert(sizeof(wchar_t) == sizeof(WCHAR), "wide text is WCHAR");

namespace platform {

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    return ::VirtualAlloc(address, size, allocationType, protect);
}

BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    return ::VirtualCopy(destination, source, size, protect);
}

BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    return ::VirtualFree(address, size, freeType);
}

}  // namespace platform
