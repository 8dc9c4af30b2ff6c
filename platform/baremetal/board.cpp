#include "board.h"

#include "core_idle.h"
#include "ffuart.h"
#include "mmu.h"
#include "os_timer.h"
#include "semihosting.h"

extern "C" {
using Constructor = void (*)();
extern Constructor __init_array_start[];
extern Constructor __init_array_end[];
}

namespace board {

[[noreturn]] void Exit(int status) {
    SemihostingExit(status);
    for (;;) {
        IdleCore();
    }
}

}  // namespace board

void BoardInit() {
    board::EnableMmu();
    board::InitUart();
    board::InitOsTimer();
    for (Constructor* constructor = __init_array_start; constructor != __init_array_end;
         ++constructor) {
        (*constructor)();
    }
}

void BoardExit(int status) { board::Exit(status); }
