#ifndef TOOLS_CE_LOADER_CODE_MEMORY_H
#define TOOLS_CE_LOADER_CODE_MEMORY_H

#include <cstdint>

namespace ce_loader {

// Makes code just written through the data cache fetchable: the XScale's
// caches are not coherent, so its lines are cleaned out of the data cache,
// the write buffer drained, and the instruction cache and branch target
// buffer invalidated before anything jumps into it.
void MakeCodeVisible(std::uint32_t address, std::uint32_t size);

}  // namespace ce_loader

#endif  // TOOLS_CE_LOADER_CODE_MEMORY_H
