// Every COREDLL call the program imports passes and returns only values that
// travel in one core register: a pointer, or an integer or enum of at most 32
// bits. There CE's ARM calling convention and the AAPCS that gcc-arm-none-eabi
// compiles for agree. They part on 64-bit values (CE aligns them to 4 bytes
// in registers and on the stack, AAPCS to 8) and on structures (CE returns
// them through memory, gcc returns small ones in r0): an import that took or
// gave one would compile and then misbehave on the device, so it must not
// compile. va_list counts as a pointer: it is one on CE, and a one-pointer
// structure, passed in a core register alike, under AAPCS.

#include <cstdarg>
#include <type_traits>

#include "platform.h"
// After platform.h: see coredll.h.
#include "coredll.h"

namespace {

template <typename T>
constexpr bool OneCoreRegister() {
    if constexpr (std::is_pointer_v<T>) {
        return true;
    } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
        return sizeof(T) <= 4;
    } else if constexpr (std::is_same_v<T, va_list>) {
        return sizeof(T) == sizeof(void*) && alignof(T) == alignof(void*);
    } else {
        return false;
    }
}

template <typename Result>
constexpr bool RegisterResult() {
    if constexpr (std::is_void_v<Result>) {
        return true;
    } else {
        return OneCoreRegister<Result>();
    }
}

template <typename Function>
struct PassesOnlyWords;  // only plain (non-variadic) functions are imported

template <typename Result, typename... Parameters>
struct PassesOnlyWords<Result(Parameters...)> {
    static constexpr bool value = RegisterResult<Result>() && (OneCoreRegister<Parameters>() && ...);
};

template <typename Result, typename... Parameters>
struct PassesOnlyWords<Result(Parameters...) noexcept> : PassesOnlyWords<Result(Parameters...)> {};

}  // namespace

#define CHECK_IMPORT(name)                                                                  \
    static_assert(PassesOnlyWords<std::remove_pointer_t<decltype(&::name)>>::value, #name \
                  " passes or returns a 64-bit value or a structure")

CHECK_IMPORT(VirtualAlloc);
CHECK_IMPORT(VirtualCopy);
CHECK_IMPORT(VirtualFree);
CHECK_IMPORT(Sleep);
CHECK_IMPORT(NKvDbgPrintfW);
CHECK_IMPORT(LocalAlloc);
CHECK_IMPORT(LocalFree);
CHECK_IMPORT(ExitThread);
