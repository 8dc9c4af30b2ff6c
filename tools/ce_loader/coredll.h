#ifndef TOOLS_CE_LOADER_COREDLL_H
#define TOOLS_CE_LOADER_COREDLL_H

// The Windows CE calls the loader offers a program in place of COREDLL's,
// each on the bare board's own implementation: window slots of the MMU for
// VirtualAlloc/VirtualCopy/VirtualFree, the OS timer for Sleep, the FFUART
// for NKDbgPrintfW, a small arena for LocalAlloc/LocalFree, and ExitThread
// as the end of the program.

#include <cstddef>
#include <cstdint>

#include "pe_image.h"

namespace ce_loader {

// Text on the FFUART, as the loader reports.
void WriteText(const char* text);

// The offered calls by name, at their addresses on this board.
const Export* CoreLibraryExports(std::size_t& count);

// Makes the calls named by `options` (loader_memory.h's kOptionRefuse*
// flags) fail, as on a kernel that refuses them: VirtualFree and LocalFree
// then keep what they were handed.
void RefuseCalls(std::uint32_t options);

// Exit status of a program that ended holding a reservation or a block.
constexpr int kExitLeftBehind = 6;

// Exit status of a program that called in with its stack not 8-byte aligned.
constexpr int kExitMisalignedStack = 7;

// Ends the program with `status`, unless it left a reservation or a block
// behind: that is reported and ends it with kExitLeftBehind.
[[noreturn]] void EndProgram(int status);

}  // namespace ce_loader

#endif  // TOOLS_CE_LOADER_COREDLL_H
