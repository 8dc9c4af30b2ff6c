// Object storage for the build without a C++ run-time library: operator new
// and delete take the process heap from COREDLL, fixed (not moveable) memory.
// Only the forms the program uses exist; a throwing new would not link.

#include <new>

#include <windows.h>

// The tag object of the nothrow forms, which a C++ run-time library would define.
const std::nothrow_t std::nothrow{};

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return LocalAlloc(LMEM_FIXED, size);
}

void operator delete(void* storage) noexcept {
    if (storage != nullptr) {
        LocalFree(storage);
    }
}

void operator delete(void* storage, std::size_t) noexcept { operator delete(storage); }
