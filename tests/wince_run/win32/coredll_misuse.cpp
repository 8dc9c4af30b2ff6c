// A caller that breaks one of the stand-in coredll.dll's rules on purpose,
// chosen by its command line, and otherwise calls COREDLL as the program
// does: a run must show the stand-in complaining of exactly that. A check
// that no caller ever trips proves nothing.
//
//   coredll_misuse cached-copy          maps the GPIO unit without PAGE_NOCACHE
//   coredll_misuse sized-free           releases with the reservation's size, not 0
//   coredll_misuse leaked-reservation   exits with the reservation still held
//
// Exits 0, or 2 on an unknown word or a failed reservation.

#include <cstring>

#include "coredll.h"

namespace {

constexpr DWORD kWindow = 0x10000;
constexpr DWORD kDevice = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
// With PAGE_PHYSICAL, the GPIO unit's physical address >> 8.
LPVOID GpioPages() { return reinterpret_cast<LPVOID>(0x40E00000 >> 8); }

enum class Misuse { kUnknown, kCachedCopy, kSizedFree, kLeakedReservation };

Misuse Named(const char* word) {
    if (std::strcmp(word, "cached-copy") == 0) return Misuse::kCachedCopy;
    if (std::strcmp(word, "sized-free") == 0) return Misuse::kSizedFree;
    if (std::strcmp(word, "leaked-reservation") == 0) return Misuse::kLeakedReservation;
    return Misuse::kUnknown;
}

}  // namespace

int main(int argc, char** argv) {
    const Misuse misuse = argc == 2 ? Named(argv[1]) : Misuse::kUnknown;
    if (misuse == Misuse::kUnknown) return 2;
    LPVOID base = VirtualAlloc(nullptr, kWindow, MEM_RESERVE, PAGE_NOACCESS);
    if (base == nullptr) return 2;
    switch (misuse) {
        case Misuse::kCachedCopy:
            VirtualCopy(base, GpioPages(), kWindow, kDevice & ~static_cast<DWORD>(PAGE_NOCACHE));
            break;
        case Misuse::kSizedFree:
            VirtualFree(base, kWindow, MEM_RELEASE);
            break;
        case Misuse::kLeakedReservation:
        case Misuse::kUnknown:
            return 0;
    }
    VirtualFree(base, 0, MEM_RELEASE);
    return 0;
}
