#include "board.h"

#include "core_idle.h"
#include "ffuart.h"
#include "mmu.h"
#include "os_timer.h"
#include "platform.h"
#include "processor.h"
#include "semihosting.h"

extern "C" {
using Constructor = void (*)();
extern Constructor __init_array_start[];
extern Constructor __init_array_end[];
}

namespace board {

[[noreturn]] void Exit(int status) {
    UartDrain();
    const Processor processor = ThisProcessor();
    if (processor != Processor::kUnknown) StopOsTimer(processor);
    SemihostingExit(status);
    BoardIdleForGood();
}

}  // namespace board

// Nothing can end the idle any more: the loop only guards against a
// spurious wake-up, and the stack stays where it is. A core that is not an
// XScale has no idle mode here and just spins.
extern "C" [[noreturn]] [[gnu::noinline]] void BoardIdleForGood() {
    if (board::ThisProcessor() == board::Processor::kUnknown) {
        for (;;) {
        }
    }
    for (;;) {
        board::IdleCore();
    }
}

void BoardInit() {
    board::EnableMmu();
    const std::uint32_t mainId = board::ReadMainId();
    const board::Processor processor = board::IdentifyProcessor(mainId);
    board::InitUart();
    if (processor == board::Processor::kUnknown) {
        platform::NKDbgPrintfW(L"Unknown processor: main ID 0x%08x is neither a PXA25x nor a PXA27x\r\n",
                               static_cast<unsigned>(mainId));
        board::Exit(board::kExitUnknownProcessor);
    }
    board::SetThisProcessor(processor);
    board::InitOsTimer(processor);
    for (Constructor* constructor = __init_array_start; constructor != __init_array_end;
         ++constructor) {
        (*constructor)();
    }
}

void BoardExit(int status) { board::Exit(status); }
