// The compile check is only worth something if it compiles for the target's
// data model: 2-byte wchar_t, 32-bit pointers, Windows CE 4.0.

#include <cstdint>

static_assert(sizeof(wchar_t) == 2, "the target's wchar_t is 2 bytes");
static_assert(sizeof(void*) == 4, "the target's pointers are 32 bits");
static_assert(sizeof(std::uintptr_t) == 4, "the target's addresses are 32 bits");
static_assert(_WIN32_WCE == 0x400, "checked as Windows CE 4.0");
