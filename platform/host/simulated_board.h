#ifndef PLATFORM_HOST_SIMULATED_BOARD_H
#define PLATFORM_HOST_SIMULATED_BOARD_H

// The board the host build runs on: a PXA27x GPIO unit at its physical
// address, the virtual address space that maps it, the debug output channel
// and the clock. The platform calls of the host backend act on this one
// board; tests use the rest of its interface to set it up and look inside.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "address_space.h"
#include "platform.h"
#include "pxa_gpio_model.h"

namespace host {

class SimulatedBoard {
public:
    // What the outside world does to a line.
    enum class OutsideDrive { Low, High, Released };

    struct SleepRecord {
        std::uint32_t milliseconds;
        std::size_t traceLength;  // bytes of trace printed before the sleep
        std::size_t accessCount;  // register accesses made before the sleep
    };

    static SimulatedBoard& Instance();

    // Power-on reset: registers 0, lines undriven, every range released, no
    // failure or board fault, real clock at its rate, trace to standard
    // output, logs empty. Board faults in the wiring: Gpio().AddBoardFault().
    void PowerUp();

    PxaGpioModel& Gpio() { return gpio_; }

    // A bus fault (an access nowhere mapped, or one the GPIO unit rejects)
    // prints and aborts, as a data abort would stop the program. Tests
    // install a handler that records it instead.
    void SetFaultHandler(PxaGpioModel::FaultHandler handler) { faultHandler_ = std::move(handler); }

    // Debug output: standard output, flushed per message, unless captured.
    void CaptureTrace() { captureTrace_ = true; }
    const std::string& Trace() const { return trace_; }
    void ClearTrace() { trace_.clear(); }
    // Characters in the longest single message since power-up: Windows CE's
    // debug print renders each into a buffer of 128.
    std::size_t LongestMessage() const { return longestMessage_; }

    // Time: real by default; the virtual clock returns from Sleep at once
    // and advances by the time asked for.
    void UseVirtualClock() { virtualClock_ = true; }
    // A board whose timer runs slow: every Sleep lasts `fraction` longer
    // than asked (0.05: 500 ms take 525 ms), under either clock.
    void SlowClock(double fraction) { clockSlowdown_ = fraction; }
    // A real board's timing, under either clock; 0 turns each off (the
    // default). The debug port: each message takes its length in characters
    // at `baud`, 10 bits a character, and the print returns when the last
    // is out, as Windows CE's debug print on a serial port does. The tick:
    // a Sleep ends on the first tick (a multiple of `tickUs` of board time)
    // at or after its time is up, as Sleep(n) on Windows CE waits at least
    // n ms and wakes on a timer tick.
    void DebugPortBaud(std::uint32_t baud) { debugBaud_ = baud; }
    void SleepTick(std::uint32_t tickUs) { sleepTickUs_ = tickUs; }
    // Called at the start of every Sleep: the program leaves the lines alone
    // for the whole of it (only scheduled outside drives change them), so
    // this is where an observer samples them.
    void SetSleepObserver(std::function<void(platform::DWORD milliseconds)> observer) {
        sleepObserver_ = std::move(observer);
    }
    const std::vector<SleepRecord>& Sleeps() const { return sleeps_; }
    std::uint64_t NowUs() const;

    // Drives a line from outside from `atUs` of board time on. The change
    // happens at that time under either clock: a sleep that spans it is
    // split there, and one already due applies before the next bus access.
    void ScheduleDrive(unsigned line, OutsideDrive drive, std::uint64_t atUs);

    // Failure injection, each lasting until the next PowerUp.
    void FailVirtualAlloc() { failVirtualAlloc_ = true; }
    void FailVirtualCopy(platform::BOOL result);  // any result but 1
    void FailObjectStorage() { failObjectStorage_ = true; }

    // What is still held: reserved ranges and driver objects.
    std::size_t ReservedRanges() const { return addressSpace_.ReservationCount(); }
    std::size_t LiveObjects() const { return liveObjects_; }

    // The host backend's platform calls.
    void Print(const char* text, std::size_t length);
    void Sleep(platform::DWORD milliseconds);
    platform::LPVOID VirtualAlloc(platform::LPVOID address, platform::DWORD size,
                                  platform::DWORD allocationType, platform::DWORD protect);
    platform::BOOL VirtualCopy(platform::LPVOID destination, platform::LPVOID source,
                               platform::DWORD size, platform::DWORD protect);
    platform::BOOL VirtualFree(platform::LPVOID address, platform::DWORD size,
                               platform::DWORD freeType);
    void* AllocateObject(std::size_t size);
    void FreeObject(void* storage);
    std::uint32_t BusRead(const volatile std::uint32_t* address);
    void BusWrite(volatile std::uint32_t* address, std::uint32_t value);

private:
    SimulatedBoard();
    void Fault(const std::string& message);
    struct PendingDrive {
        std::uint64_t atUs;
        unsigned line;
        OutsideDrive drive;
    };
    void ApplyDrivesDueBy(std::uint64_t nowUs);
    // Lets board time run to `endUs`, applying the drives due on the way at their own times.
    void PassTime(std::uint64_t endUs);
    void ApplyDrive(const PendingDrive& pending);
    bool TranslateOrFault(const volatile std::uint32_t* address, const char* what,
                          std::uint32_t& offset);

    PxaGpioModel gpio_;
    AddressSpace addressSpace_;
    PxaGpioModel::FaultHandler faultHandler_;
    bool captureTrace_ = false;
    std::string trace_;
    std::size_t longestMessage_ = 0;
    bool virtualClock_ = false;
    double clockSlowdown_ = 0;
    std::uint32_t debugBaud_ = 0;
    std::uint32_t sleepTickUs_ = 0;
    std::uint64_t virtualNowUs_ = 0;
    std::uint64_t realStartUs_ = 0;
    std::vector<SleepRecord> sleeps_;
    std::vector<PendingDrive> pendingDrives_;  // by time, earliest last
    std::function<void(platform::DWORD)> sleepObserver_;
    bool failVirtualAlloc_ = false;
    bool failVirtualCopy_ = false;
    platform::BOOL virtualCopyResult_ = 0;
    bool failObjectStorage_ = false;
    std::size_t liveObjects_ = 0;
};

}  // namespace host

#endif  // PLATFORM_HOST_SIMULATED_BOARD_H
