#ifndef TOOLS_CE_PROCESS_PROCESS_STATE_H
#define TOOLS_CE_PROCESS_PROCESS_STATE_H

// What a running CE process holds, shared by its memory, its COREDLL calls
// and its run.

#include <unicorn/unicorn.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ce_process.h"
#include "local_heap.h"
#include "pe_image.h"
#include "simulated_board.h"

namespace ce_process {

struct Reservation {
    std::uint32_t base;
    std::uint32_t mappedSize;  // 0 until VirtualCopy maps the GPIO unit there
};

struct ProcessState;

// A window VirtualCopy mapped: the I/O hook's view of it.
struct MappedWindow {
    ProcessState* process;
    std::uint32_t base;
};
constexpr std::size_t kMostWindows = 8;

struct ProcessState {
    uc_engine* uc = nullptr;
    ProcessOptions options;
    host::SimulatedBoard* board = nullptr;
    std::uint32_t imageSize = 0;
    std::vector<SectionPlacement> sections;
    LocalHeap heap;
    std::vector<Reservation> reservations;
    MappedWindow windows[kMostWindows] = {};
    bool ended = false;
    bool exited = false;  // through ExitThread or the entry's return
    int exitCode = 0;
    std::string report;
};

// A line of the process's own report.
void Report(ProcessState& process, const std::string& line);
// Ends the run with `exitCode` (once: the first reason stands).
void Stop(ProcessState& process, int exitCode);
// Ends it as CE's access violation would: `what` at `address`, by the
// instruction at `pc`.
void StopOnAccessViolation(ProcessState& process, const char* what, std::uint32_t address,
                           std::uint32_t pc);
// Whether [address, address + size) lies in memory the program may read
// as plain memory: its image, its stack, a block it holds.
bool IsGivenMemory(const ProcessState& process, std::uint32_t address, std::uint32_t size);
std::uint32_t HeapBlockAddress(std::size_t index);

std::string Hex8(std::uint32_t value);

// The COREDLL calls, by the index of their slot in the COREDLL page.
struct CoreCall {
    const char* name;
    void (*serve)(ProcessState& process);
};
const CoreCall* CoreCalls(std::size_t& count);
// The slot the entry returns to: as ExitThread with what it returned.
constexpr std::uint32_t kEntryReturnSlot = 15;

}  // namespace ce_process

#endif  // TOOLS_CE_PROCESS_PROCESS_STATE_H
