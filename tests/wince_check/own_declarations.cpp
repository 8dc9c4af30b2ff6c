// The project's own CE declarations (platform/wince/include/windows.h, what
// the build without a CE SDK compiles against) held against the SDK's
// <windows.h>: every call takes and returns the same kinds of values, and
// every constant has the same value. Read in a namespace of their own, the
// two sets of declarations do not clash.

#include <windows.h>

#include <type_traits>

namespace sdk {
constexpr auto kMemReserve = MEM_RESERVE;
constexpr auto kMemRelease = MEM_RELEASE;
constexpr auto kPageNoAccess = PAGE_NOACCESS;
constexpr auto kPageReadWrite = PAGE_READWRITE;
constexpr auto kPageNoCache = PAGE_NOCACHE;
constexpr auto kLmemFixed = LMEM_FIXED;
}  // namespace sdk
#undef MEM_RESERVE
#undef MEM_RELEASE
#undef PAGE_NOACCESS
#undef PAGE_READWRITE
#undef PAGE_NOCACHE
#undef LMEM_FIXED

#define CE_API_LINKAGE_BEGIN
#define CE_API_LINKAGE_END
namespace own {
#include "../../platform/wince/include/windows.h"
}  // namespace own

static_assert(MEM_RESERVE == sdk::kMemReserve, "MEM_RESERVE");
static_assert(MEM_RELEASE == sdk::kMemRelease, "MEM_RELEASE");
static_assert(PAGE_NOACCESS == sdk::kPageNoAccess, "PAGE_NOACCESS");
static_assert(PAGE_READWRITE == sdk::kPageReadWrite, "PAGE_READWRITE");
static_assert(PAGE_NOCACHE == sdk::kPageNoCache, "PAGE_NOCACHE");
static_assert(LMEM_FIXED == sdk::kLmemFixed, "LMEM_FIXED");

namespace {

// Pointers must be the same type; integers the same size and signedness (the
// SDKs differ in UINT, DWORD or SIZE_T where CE's documentation does too).
template <typename Own, typename Sdk>
constexpr bool SameKind() {
    if constexpr (std::is_pointer_v<Own> || std::is_pointer_v<Sdk> || std::is_void_v<Own> ||
                  std::is_void_v<Sdk>) {
        return std::is_same_v<Own, Sdk>;
    } else if constexpr (std::is_integral_v<Own> && std::is_integral_v<Sdk>) {
        return sizeof(Own) == sizeof(Sdk) && std::is_signed_v<Own> == std::is_signed_v<Sdk>;
    } else {
        return false;
    }
}

template <typename R1, typename... A1, typename R2, typename... A2>
constexpr bool SameCall(R1 (*)(A1...), R2 (*)(A2...)) {
    if constexpr (sizeof...(A1) != sizeof...(A2)) {
        return false;
    } else {
        return SameKind<R1, R2>() && (SameKind<A1, A2>() && ...);
    }
}

#if defined(__i386__)
template <typename R1, typename... A1, typename R2, typename... A2>
constexpr bool SameCall(R1(__attribute__((stdcall)) *)(A1...), R2(__attribute__((stdcall)) *)(A2...)) {
    if constexpr (sizeof...(A1) != sizeof...(A2)) {
        return false;
    } else {
        return SameKind<R1, R2>() && (SameKind<A1, A2>() && ...);
    }
}
#endif

}  // namespace

#define SAME_CALL(name) static_assert(SameCall(&own::name, &::name), #name " is declared unlike the SDK's")
SAME_CALL(VirtualAlloc);
SAME_CALL(VirtualFree);
SAME_CALL(Sleep);
SAME_CALL(LocalAlloc);
SAME_CALL(LocalFree);
SAME_CALL(ExitThread);
