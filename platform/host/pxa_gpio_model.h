#ifndef PLATFORM_HOST_PXA_GPIO_MODEL_H
#define PLATFORM_HOST_PXA_GPIO_MODEL_H

// A model of the PXA27x GPIO unit as seen on its bus: four banks of 32 lines,
// the level, direction, set, clear, edge and alternate-function registers,
// and the pins' electrical state. It knows its register map from the
// processor's manual, independently of the driver's own layout, so a wrong
// offset in the driver shows up as a fault or a wrong access here.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "board_wiring.h"

namespace host {

class PxaGpioModel {
public:
    static constexpr std::uint32_t kPhysicalBase = 0x40E00000;
    static constexpr std::uint32_t kWindowSize = 0x10000;
    static constexpr unsigned kBanks = 4;

    enum class AccessKind { Read, Write };
    struct Access {
        AccessKind kind;
        std::uint32_t offset;
        std::uint32_t value;
        std::uint64_t timeUs;  // board time of the access
        // What the bus saw, not when: two runs compare equal at any speed.
        bool operator==(const Access& other) const {
            return kind == other.kind && offset == other.offset && value == other.value;
        }
    };

    // One line as the outside world sees it.
    struct PinState {
        bool output;      // the processor drives it (its GPDR bit is set)
        bool level;       // what a probe on the pin sees
        bool driven;      // something else drives it: the outside, or on a faulty
                          // board a rail or another line shorted to it
        bool contention;  // both drive it, to different levels
        bool operator==(const PinState& other) const {
            return output == other.output && level == other.level && driven == other.driven &&
                   contention == other.contention;
        }
        bool operator!=(const PinState& other) const { return !(*this == other); }
    };

    using FaultHandler = std::function<void(const std::string& message)>;
    using TimeSource = std::function<std::uint64_t()>;
    // Told of every line whose state changed, after the access or drive that
    // changed it, with the board time.
    using PinListener = std::function<void(unsigned line, const PinState& state, std::uint64_t timeUs)>;

    PxaGpioModel();

    // Every register 0, every line an undriven input (reads low), log empty,
    // the board wired as designed.
    void PowerUp();

    // Bus side: what the processor's loads and stores do. `sizeBytes` is the
    // width of the access; anything but an aligned 32-bit access to one of the
    // unit's registers is a bus fault, reported to the fault handler.
    std::uint32_t Read(std::uint32_t offset, unsigned sizeBytes);
    void Write(std::uint32_t offset, std::uint32_t value, unsigned sizeBytes);

    // Pin side: the world outside the chip.
    void DriveLine(unsigned line, bool high);
    // Stops driving the line from outside; as an input it then reads low,
    // as at power-up.
    void ReleaseLine(unsigned line);
    PinState Pin(unsigned line) const;
    // A fault in the board's wiring of the lines (see board_wiring.h): it
    // changes what a probe on a line sees and what the unit reads on its
    // pins, not the registers.
    void AddBoardFault(const BoardFault& fault);
    bool PinLevel(unsigned line) const;  // what a probe on the pin sees
    bool IsOutput(unsigned line) const;
    bool OutputLatch(unsigned line) const;

    // Back door for tests: register contents without a bus access. Poke sets
    // a register as if it had always held the value: on a level register it
    // sets the external levels of the bank, on a set or clear register it
    // sets or clears output latch bits.
    std::uint32_t Peek(std::uint32_t offset) const;
    void Poke(std::uint32_t offset, std::uint32_t value);

    const std::vector<Access>& AccessLog() const { return log_; }
    void ClearAccessLog() { log_.clear(); }

    // The default handler prints the fault and aborts, as a bus error would.
    void SetFaultHandler(FaultHandler handler);
    void SetTimeSource(TimeSource source);
    void SetPinListener(PinListener listener) { pinListener_ = std::move(listener); }

private:
    enum class Register { Level, Direction, Set, Clear, RisingEdge, FallingEdge, EdgeStatus,
                          AltFunction };
    struct Decoded {
        bool valid;
        Register reg;
        unsigned index;  // bank, or alternate-function register number 0..7
    };
    static Decoded Decode(std::uint32_t offset);
    std::uint32_t Contents(const Decoded& d) const;
    bool CheckAccess(const char* what, std::uint32_t offset, unsigned sizeBytes, Decoded& decoded);
    void Fault(const std::string& message);
    std::uint64_t Now() const { return timeSource_ ? timeSource_() : 0; }
    // The lines as the outside sees them, and each pin's direction and what it reads.
    struct PinWords {
        std::uint32_t output[kBanks], level[kBanks], driven[kBanks], contention[kBanks];
        std::uint32_t pinOutput[kBanks], input[kBanks];
    };
    PinWords Pins() const;
    void ApplyWiring(PinWords& pins) const;
    void SetOutsideDrive(unsigned line, bool driven, bool high);
    void LatchEdges(const PinWords& before, const PinWords& after);
    void ReportPinChanges(const PinWords& before);

    std::uint32_t direction_[kBanks];
    std::uint32_t latch_[kBanks];
    std::uint32_t external_[kBanks];
    std::uint32_t driven_[kBanks];
    std::uint32_t rising_[kBanks];
    std::uint32_t falling_[kBanks];
    std::uint32_t edgeStatus_[kBanks];
    std::uint32_t altFunction_[2 * kBanks];
    BoardWiring wiring_;
    std::vector<Access> log_;
    FaultHandler faultHandler_;
    TimeSource timeSource_;
    PinListener pinListener_;
};

// "R 0x00000010 0x00000002": the stable text form of one access.
std::string FormatAccess(const PxaGpioModel::Access& access);

}  // namespace host

#endif  // PLATFORM_HOST_PXA_GPIO_MODEL_H
