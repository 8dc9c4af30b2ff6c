#include "simulated_board.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace host {
namespace {

constexpr platform::DWORD kDeviceMapping =
    platform::PAGE_READWRITE | platform::PAGE_NOCACHE | platform::PAGE_PHYSICAL;

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::uint64_t MonotonicUs() { return static_cast<std::uint64_t>(MonotonicNs() / 1000); }

// A timer wake-up on Linux comes 50 to 250 us late, which over 720 sleeps
// adds a tenth of a second to the run. So sleep on the timer until shortly
// before the deadline and wait out the rest on the clock: the sleep then
// ends within a microsecond of when it should, for a little CPU time.
constexpr std::int64_t kSpinMarginNs = 500000;

void SleepUntil(std::int64_t deadline) {
    const std::int64_t wake = deadline - kSpinMarginNs;
    const timespec wakeAt{static_cast<time_t>(wake / 1000000000), static_cast<long>(wake % 1000000000)};
    // Absolute, so an interrupted sleep resumes without drift.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wakeAt, nullptr) == EINTR) {
    }
    while (MonotonicNs() < deadline) {
    }
}

}  // namespace

SimulatedBoard& SimulatedBoard::Instance() {
    static SimulatedBoard board;
    return board;
}

SimulatedBoard::SimulatedBoard() {
    // The kernel may defer a timer wake-up by the thread's slack, 50 us by
    // default; ask for the least so the early wake-up stays early.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    gpio_.SetTimeSource([this] { return NowUs(); });
    gpio_.SetFaultHandler([this](const std::string& message) { Fault(message); });
    PowerUp();
}

void SimulatedBoard::PowerUp() {
    gpio_.PowerUp();
    faultHandler_ = nullptr;
    addressSpace_.ReleaseAll();
    captureTrace_ = false;
    trace_.clear();
    longestMessage_ = 0;
    virtualClock_ = false;
    clockSlowdown_ = 0;
    debugBaud_ = 0;
    sleepTickUs_ = 0;
    virtualNowUs_ = 0;
    realStartUs_ = MonotonicUs();
    sleeps_.clear();
    sleepObserver_ = nullptr;
    pendingDrives_.clear();
    gpio_.SetPinListener(nullptr);
    failVirtualAlloc_ = false;
    failVirtualCopy_ = false;
    failObjectStorage_ = false;
    liveObjects_ = 0;
}

std::uint64_t SimulatedBoard::NowUs() const {
    return virtualClock_ ? virtualNowUs_ : MonotonicUs() - realStartUs_;
}

void SimulatedBoard::FailVirtualCopy(platform::BOOL result) {
    if (result == 1) {
        std::fprintf(stderr, "simulated board: 1 is VirtualCopy's success, not a failure\n");
        std::abort();
    }
    failVirtualCopy_ = true;
    virtualCopyResult_ = result;
}

void SimulatedBoard::Print(const char* text, std::size_t length) {
    // UTF-8 bytes; one a character for the program's ASCII messages.
    if (length > longestMessage_) longestMessage_ = length;
    if (captureTrace_) {
        trace_.append(text, length);
    } else {
        std::fwrite(text, 1, length, stdout);
        std::fflush(stdout);  // a person watches the run live
    }
    if (debugBaud_ == 0) return;
    // Characters, not bytes: a continuation byte goes out within its character.
    const auto characters = static_cast<std::uint64_t>(
        std::count_if(text, text + length, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    // A start bit, 8 data bits and a stop bit each; to the nearest microsecond.
    const std::uint64_t costUs = (characters * 10 * 1000000 + debugBaud_ / 2) / debugBaud_;
    PassTime(NowUs() + costUs);
}

void SimulatedBoard::Sleep(platform::DWORD milliseconds) {
    sleeps_.push_back({milliseconds, trace_.size(), gpio_.AccessLog().size()});
    if (sleepObserver_) sleepObserver_(milliseconds);
    const std::uint64_t durationUs =
        static_cast<std::uint64_t>(std::llround(milliseconds * 1000.0 * (1.0 + clockSlowdown_)));
    std::uint64_t endUs = NowUs() + durationUs;
    if (sleepTickUs_ > 0) endUs = (endUs + sleepTickUs_ - 1) / sleepTickUs_ * sleepTickUs_;
    PassTime(endUs);
}

void SimulatedBoard::PassTime(std::uint64_t endUs) {
    if (virtualClock_) {
        while (!pendingDrives_.empty() && pendingDrives_.back().atUs <= endUs) {
            virtualNowUs_ = std::max(virtualNowUs_, pendingDrives_.back().atUs);
            ApplyDrive(pendingDrives_.back());
            pendingDrives_.pop_back();
        }
        virtualNowUs_ = std::max(virtualNowUs_, endUs);
        return;
    }
    const std::int64_t deadline = static_cast<std::int64_t>(realStartUs_ + endUs) * 1000;
    // Drives due within the wait interrupt it.
    while (!pendingDrives_.empty() && pendingDrives_.back().atUs <= endUs) {
        const PendingDrive pending = pendingDrives_.back();
        pendingDrives_.pop_back();
        SleepUntil(std::min(deadline, static_cast<std::int64_t>(realStartUs_ + pending.atUs) * 1000));
        ApplyDrive(pending);
    }
    SleepUntil(deadline);
}

void SimulatedBoard::ScheduleDrive(unsigned line, OutsideDrive drive, std::uint64_t atUs) {
    // Kept sorted latest first; drives for the same time apply in the order given.
    const auto at = std::find_if(pendingDrives_.begin(), pendingDrives_.end(),
                                 [atUs](const PendingDrive& p) { return p.atUs <= atUs; });
    pendingDrives_.insert(at, {atUs, line, drive});
    ApplyDrivesDueBy(NowUs());
}

void SimulatedBoard::ApplyDrivesDueBy(std::uint64_t nowUs) {
    while (!pendingDrives_.empty() && pendingDrives_.back().atUs <= nowUs) {
        const PendingDrive pending = pendingDrives_.back();
        pendingDrives_.pop_back();
        ApplyDrive(pending);
    }
}

void SimulatedBoard::ApplyDrive(const PendingDrive& pending) {
    if (pending.drive == OutsideDrive::Released) gpio_.ReleaseLine(pending.line);
    else gpio_.DriveLine(pending.line, pending.drive == OutsideDrive::High);
}

platform::LPVOID SimulatedBoard::VirtualAlloc(platform::LPVOID address, platform::DWORD size,
                                              platform::DWORD allocationType,
                                              platform::DWORD protect) {
    // Only what a driver mapping device registers asks for: an inaccessible
    // reservation anywhere the system chooses.
    if (failVirtualAlloc_ || address != nullptr || allocationType != platform::MEM_RESERVE ||
        protect != platform::PAGE_NOACCESS) {
        return nullptr;
    }
    return addressSpace_.Reserve(size);
}

platform::BOOL SimulatedBoard::VirtualCopy(platform::LPVOID destination, platform::LPVOID source,
                                           platform::DWORD size, platform::DWORD protect) {
    if (failVirtualCopy_) return virtualCopyResult_;
    // The only physical memory on this board is the GPIO unit's window.
    const auto physical = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(source)) << 8;
    if (physical != PxaGpioModel::kPhysicalBase || size != PxaGpioModel::kWindowSize ||
        protect != kDeviceMapping) {
        return 0;
    }
    return addressSpace_.Bind(destination, size) ? 1 : 0;
}

platform::BOOL SimulatedBoard::VirtualFree(platform::LPVOID address, platform::DWORD size,
                                           platform::DWORD freeType) {
    if (size != 0 || freeType != platform::MEM_RELEASE) return 0;
    return addressSpace_.Release(address) ? 1 : 0;
}

void* SimulatedBoard::AllocateObject(std::size_t size) {
    if (failObjectStorage_) return nullptr;
    void* storage = std::malloc(size);
    if (storage != nullptr) ++liveObjects_;
    return storage;
}

void SimulatedBoard::FreeObject(void* storage) {
    if (storage == nullptr) return;
    std::free(storage);
    --liveObjects_;
}

void SimulatedBoard::Fault(const std::string& message) {
    if (faultHandler_) {
        faultHandler_(message);
        return;
    }
    std::fprintf(stderr, "simulated board: bus fault: %s\n", message.c_str());
    std::abort();
}

bool SimulatedBoard::TranslateOrFault(const volatile std::uint32_t* address, const char* what,
                                      std::uint32_t& offset) {
    if (addressSpace_.Translate(address, offset)) return true;
    // On the target this is a data abort: nothing is mapped there.
    char message[96];
    std::snprintf(message, sizeof message, "%s at %p: no device is mapped there", what,
                  const_cast<const void*>(static_cast<const volatile void*>(address)));
    Fault(message);
    return false;
}

std::uint32_t SimulatedBoard::BusRead(const volatile std::uint32_t* address) {
    if (!pendingDrives_.empty()) ApplyDrivesDueBy(NowUs());
    std::uint32_t offset = 0;
    if (!TranslateOrFault(address, "read", offset)) return 0;
    return gpio_.Read(offset, sizeof *address);
}

void SimulatedBoard::BusWrite(volatile std::uint32_t* address, std::uint32_t value) {
    if (!pendingDrives_.empty()) ApplyDrivesDueBy(NowUs());
    std::uint32_t offset = 0;
    if (!TranslateOrFault(address, "write", offset)) return;
    gpio_.Write(offset, value, sizeof *address);
}

}  // namespace host
