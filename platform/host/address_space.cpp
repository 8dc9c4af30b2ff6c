#include "address_space.h"

#include <sys/mman.h>

namespace host {
namespace {

constexpr std::size_t kGranularity = 0x10000;
// Candidate places, low enough for a 32-bit address and for the sanitizers'
// low-memory range, clear of where the loader and the heap usually sit.
constexpr std::uintptr_t kFirstCandidate = 0x20000000;
constexpr std::uintptr_t kLastCandidate = 0xFF000000;
constexpr std::uintptr_t kCandidateStep = 0x01000000;

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

void* MapNoAccessAt(std::uintptr_t address, std::size_t size) {
    void* hint = reinterpret_cast<void*>(address);
    void* got = mmap(hint, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE |
                                                MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED) return nullptr;
    if (got != hint) {  // an old kernel took the flag as a mere hint
        munmap(got, size);
        return nullptr;
    }
    return got;
}

}  // namespace

AddressSpace::~AddressSpace() { ReleaseAll(); }

void* AddressSpace::Reserve(std::size_t size) {
    if (size == 0) return nullptr;
    size = (size + kGranularity - 1) / kGranularity * kGranularity;
    for (std::uintptr_t candidate = kFirstCandidate; candidate <= kLastCandidate - size;
         candidate += kCandidateStep) {
        bool taken = false;
        for (const Range& r : ranges_) {
            if (candidate < r.base + r.size && r.base < candidate + size) taken = true;
        }
        if (taken) continue;
        if (void* base = MapNoAccessAt(candidate, size)) {
            ranges_.push_back({candidate, size, false});
            return base;
        }
    }
    return nullptr;
}

bool AddressSpace::Bind(void* base, std::size_t size) {
    for (Range& r : ranges_) {
        if (r.base == reinterpret_cast<std::uintptr_t>(base) && !r.bound && size == r.size) {
            r.bound = true;
            return true;
        }
    }
    return false;
}

bool AddressSpace::Release(void* base) {
    for (auto it = ranges_.begin(); it != ranges_.end(); ++it) {
        if (it->base == reinterpret_cast<std::uintptr_t>(base)) {
            munmap(base, it->size);
            ranges_.erase(it);
            return true;
        }
    }
    return false;
}

void AddressSpace::ReleaseAll() {
    for (const Range& r : ranges_) munmap(reinterpret_cast<void*>(r.base), r.size);
    ranges_.clear();
}

bool AddressSpace::Translate(const volatile void* address, std::uint32_t& offset) const {
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    for (const Range& r : ranges_) {
        if (r.bound && a >= r.base && a < r.base + r.size) {
            offset = static_cast<std::uint32_t>(a - r.base);
            return true;
        }
    }
    return false;
}

}  // namespace host
