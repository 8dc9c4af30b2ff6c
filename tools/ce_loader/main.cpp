// The bare-board loader of a Windows CE ARM executable: checks the .exe
// where it was put in SDRAM, builds its image at another base with every
// import bound to the board's own CE calls, and runs its entry with CE's
// arguments. The program's exit code is the board's.

#include <cstddef>
#include <cstdint>

#include "code_memory.h"
#include "coredll.h"
#include "loader_memory.h"
#include "pe_image.h"

extern "C" char __image_end[];  // the loader's own end (linker script)
// entry(a0, a1, a2, a3) entered with the stack 4 bytes off 8-byte alignment (call_checks.S).
extern "C" int CallEntryOffAlignment(std::uintptr_t entry, std::uint32_t a0, std::uint32_t a1,
                                     const char16_t* a2, int a3);

namespace {

// Exit status of a file the loader refuses.
constexpr int kExitRefused = 5;

// WinMainCRTStartup(hInstance, hPrevInstance, lpCmdLine, nCmdShow): the last two.
constexpr int kShowWindow = 5;  // SW_SHOW
const char16_t kNoCommandLine[] = u"";

std::uint8_t* At(std::uint32_t address) {
    return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
}

[[noreturn]] void Refuse(const char* reason) {
    ce_loader::WriteText("Loader: the executable is refused: ");
    ce_loader::WriteText(reason);
    ce_loader::WriteText("\r\n");
    ce_loader::EndProgram(kExitRefused);
}

void ReadOptions() {
    const auto* options = reinterpret_cast<const volatile std::uint32_t*>(At(ce_loader::kOptionsAddress));
    if (options[0] == ce_loader::kOptionsMagic) ce_loader::RefuseCalls(options[1]);
}

}  // namespace

int main() {
    using namespace ce_loader;
    if (reinterpret_cast<std::uintptr_t>(__image_end) > kFileAddress) {
        Refuse("the loader itself overlaps where the file lies");
    }
    ReadOptions();
    Refusal refusal;
    ImageLayout layout;
    const std::uint8_t* file = At(kFileAddress);
    if (!CheckHeaders(file, kFileRoom, kImageRoom, layout, refusal)) Refuse(refusal.Text());
    std::size_t exportCount = 0;
    const Export* exports = CoreLibraryExports(exportCount);
    if (!LoadImage(file, kFileRoom, layout, At(kRunAddress), kRunAddress, exports, exportCount,
                   refusal)) {
        Refuse(refusal.Text());
    }
    MakeCodeVisible(kRunAddress, layout.sizeOfImage);
    EndProgram(CallEntryOffAlignment(kRunAddress + layout.entryRva, kRunAddress, 0, kNoCommandLine,
                                     kShowWindow));
}
