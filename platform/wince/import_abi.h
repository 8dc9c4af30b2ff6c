#ifndef PLATFORM_WINCE_IMPORT_ABI_H
#define PLATFORM_WINCE_IMPORT_ABI_H

// The rule for every COREDLL call the program imports: it passes and returns only values that
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

namespace import_abi {

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

// Taken by function pointer, so that attributes that are no part of the
// argument passing (noreturn) convert away.
template <typename Result, typename... Parameters>
constexpr bool PassesOnlyWords(Result (*)(Parameters...)) {
    return RegisterResult<Result>() && (OneCoreRegister<Parameters>() && ...);
}

// A C variadic call: its fixed parameters as any other's. What follows them
// is the caller's to keep to words (the backend passes one pointer).
template <typename Result, typename... Parameters>
constexpr bool PassesOnlyWords(Result (*)(Parameters..., ...)) {
    return RegisterResult<Result>() && (OneCoreRegister<Parameters>() && ...);
}

#if defined(__i386__)
// The compile check on x86 sees WINAPI functions as stdcall ones.
template <typename Result, typename... Parameters>
constexpr bool PassesOnlyWords(Result(__attribute__((stdcall)) *)(Parameters...)) {
    return RegisterResult<Result>() && (OneCoreRegister<Parameters>() && ...);
}
#endif

}  // namespace import_abi

#define CHECK_IMPORT(name) \
    static_assert(import_abi::PassesOnlyWords(&::name), #name " passes or returns a 64-bit value or a structure")

#endif  // PLATFORM_WINCE_IMPORT_ABI_H
