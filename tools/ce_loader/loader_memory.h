#ifndef TOOLS_CE_LOADER_LOADER_MEMORY_H
#define TOOLS_CE_LOADER_LOADER_MEMORY_H

// Where things lie in the board's SDRAM while the loader runs: the loader
// itself at 0xA0000000, the .exe as QEMU's loader device (or a boot
// loader) put it there, the options word, and the running image, placed
// well away from the 0x10000 the image prefers, so every base relocation
// counts. The run command writes the file and the options at these
// addresses.

#include <cstdint>

namespace ce_loader {

constexpr std::uint32_t kFileAddress = 0xA0100000;
constexpr std::uint32_t kFileRoom = 0x200000;
constexpr std::uint32_t kOptionsAddress = 0xA0300000;
constexpr std::uint32_t kRunAddress = 0xA0400000;
constexpr std::uint32_t kImageRoom = 0x400000;

// Options: a magic word, then flags. Memory that does not hold the magic
// means no options. Each flag makes one call fail, as a device may: the
// program's handling of that failure is then what runs.
constexpr std::uint32_t kOptionsMagic = 0x43454F50;  // "POEC" in memory
constexpr std::uint32_t kOptionRefuseVirtualCopy = 1u << 0;
// VirtualFree fails and keeps the reservation: the end-of-program check must see it.
constexpr std::uint32_t kOptionRefuseVirtualFree = 1u << 1;
constexpr std::uint32_t kOptionRefuseVirtualAlloc = 1u << 2;
constexpr std::uint32_t kOptionRefuseLocalAlloc = 1u << 3;
// LocalFree fails and keeps the block: the end-of-program check must see it.
constexpr std::uint32_t kOptionRefuseLocalFree = 1u << 4;

}  // namespace ce_loader

#endif  // TOOLS_CE_LOADER_LOADER_MEMORY_H
