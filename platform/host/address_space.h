#ifndef PLATFORM_HOST_ADDRESS_SPACE_H
#define PLATFORM_HOST_ADDRESS_SPACE_H

// Virtual ranges handed out by the host's VirtualAlloc. Each is real address
// space below 4 GiB (so a 32-bit trace shows the true address) with no access
// rights: a direct load or store faults, and the only way to a device behind
// a bound range is through the register access calls.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

class AddressSpace {
public:
    AddressSpace() = default;
    AddressSpace(const AddressSpace&) = delete;
    AddressSpace& operator=(const AddressSpace&) = delete;
    ~AddressSpace();

    // Reserves `size` bytes (rounded up to 64 KiB); null when none is free.
    void* Reserve(std::size_t size);
    // Puts the device window behind a whole reserved range that is not bound yet.
    bool Bind(void* base, std::size_t size);
    // Unbinds and frees the range that starts at `base`.
    bool Release(void* base);
    void ReleaseAll();

    // The offset of `address` in a bound device window, or false.
    bool Translate(const volatile void* address, std::uint32_t& offset) const;
    std::size_t ReservationCount() const { return ranges_.size(); }

private:
    struct Range {
        std::uintptr_t base;
        std::size_t size;
        bool bound;
    };
    std::vector<Range> ranges_;
};

}  // namespace host

#endif  // PLATFORM_HOST_ADDRESS_SPACE_H
