#include "pxa_gpio_model.h"

#include <cstdio>
#include <cstdlib>

namespace host {
namespace {

constexpr std::uint32_t kBankStride = 0x0C;  // GPLR0..2, then GPDR0..2, ...
constexpr std::uint32_t kAltFunctionBase = 0x54;  // GAFR0_L .. GAFR3_U
constexpr std::uint32_t kAltFunctionEnd = 0x74;
constexpr std::uint32_t kBank3Base = 0x100;  // GPLR3, GPDR3, ... on the PXA27x
constexpr unsigned kBankRegisters = 7;    // level .. edge status

std::uint32_t BitOf(unsigned line) { return 1u << (line % 32); }

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

}  // namespace

PxaGpioModel::PxaGpioModel() { PowerUp(); }

void PxaGpioModel::PowerUp() {
    for (unsigned b = 0; b < kBanks; ++b) {
        direction_[b] = latch_[b] = external_[b] = driven_[b] = 0;
        rising_[b] = falling_[b] = edgeStatus_[b] = 0;
    }
    for (auto& value : altFunction_) value = 0;
    wiring_.Clear();
    log_.clear();
}

PxaGpioModel::Decoded PxaGpioModel::Decode(std::uint32_t offset) {
    if (offset % 4 != 0) return {false, Register::Level, 0};
    if (offset < kAltFunctionBase) {
        return {true, static_cast<Register>(offset / kBankStride), (offset % kBankStride) / 4};
    }
    if (offset < kAltFunctionEnd) {
        return {true, Register::AltFunction, (offset - kAltFunctionBase) / 4};
    }
    if (offset >= kBank3Base && offset < kBank3Base + kBankRegisters * kBankStride &&
        (offset - kBank3Base) % kBankStride == 0) {
        return {true, static_cast<Register>((offset - kBank3Base) / kBankStride), 3};
    }
    return {false, Register::Level, 0};
}

bool PxaGpioModel::CheckAccess(const char* what, std::uint32_t offset, unsigned sizeBytes,
                               Decoded& decoded) {
    decoded = Decode(offset);
    if (sizeBytes != 4) {
        Fault(std::string(what) + " of " + std::to_string(sizeBytes * 8) + " bits at offset " +
              Hex(offset) + ": the GPIO unit takes 32-bit accesses only");
        return false;
    }
    if (!decoded.valid) {
        Fault(std::string(what) + " at offset " + Hex(offset) + ": no GPIO register there");
        return false;
    }
    return true;
}

std::uint32_t PxaGpioModel::Read(std::uint32_t offset, unsigned sizeBytes) {
    Decoded d;
    if (!CheckAccess("read", offset, sizeBytes, d)) return 0;
    const std::uint32_t value = Contents(d);
    log_.push_back({AccessKind::Read, offset, value, Now()});
    return value;
}

void PxaGpioModel::Write(std::uint32_t offset, std::uint32_t value, unsigned sizeBytes) {
    Decoded d;
    if (!CheckAccess("write", offset, sizeBytes, d)) return;
    log_.push_back({AccessKind::Write, offset, value, Now()});
    const PinWords before = Pins();
    switch (d.reg) {
    case Register::Level: break;  // read-only: writes are ignored
    case Register::Direction: direction_[d.index] = value; break;
    case Register::Set: latch_[d.index] |= value; break;
    case Register::Clear: latch_[d.index] &= ~value; break;
    case Register::RisingEdge: rising_[d.index] = value; break;
    case Register::FallingEdge: falling_[d.index] = value; break;
    case Register::EdgeStatus: edgeStatus_[d.index] &= ~value; break;  // write 1 to clear
    case Register::AltFunction: altFunction_[d.index] = value; break;
    }
    if (!wiring_.Lines().empty()) LatchEdges(before, Pins());  // a pin on another's net
    ReportPinChanges(before);
}

void PxaGpioModel::DriveLine(unsigned line, bool high) { SetOutsideDrive(line, true, high); }

// A floating input reads low here, as at power-up.
void PxaGpioModel::ReleaseLine(unsigned line) { SetOutsideDrive(line, false, false); }

void PxaGpioModel::SetOutsideDrive(unsigned line, bool driven, bool high) {
    const unsigned bank = line / 32;
    if (bank >= kBanks) {
        Fault("GPIO" + std::to_string(line) + " does not exist");
        return;
    }
    const PinWords before = Pins();
    const std::uint32_t bit = BitOf(line);
    if (high) external_[bank] |= bit;
    else external_[bank] &= ~bit;
    if (driven) driven_[bank] |= bit;
    else driven_[bank] &= ~bit;
    LatchEdges(before, Pins());
    ReportPinChanges(before);
}

// Edge detection watches what the pins that stay inputs read.
void PxaGpioModel::LatchEdges(const PinWords& before, const PinWords& after) {
    for (unsigned b = 0; b < kBanks; ++b) {
        const std::uint32_t inputs = ~before.pinOutput[b] & ~after.pinOutput[b];
        const std::uint32_t changed = (before.input[b] ^ after.input[b]) & inputs;
        edgeStatus_[b] |= changed & ((after.input[b] & rising_[b]) | (~after.input[b] & falling_[b]));
    }
}

void PxaGpioModel::AddBoardFault(const BoardFault& fault) {
    if (fault.line / 32 >= kBanks || fault.other / 32 >= kBanks) {
        Fault("board fault on GPIO" + std::to_string(fault.line / 32 >= kBanks ? fault.line : fault.other) +
              ", which does not exist");
        return;
    }
    const PinWords before = Pins();
    wiring_.Add(fault);
    ReportPinChanges(before);
}

PxaGpioModel::PinState PxaGpioModel::Pin(unsigned line) const {
    if (line / 32 >= kBanks) return {false, false, false, false};
    const PinWords pins = Pins();
    const unsigned bank = line / 32;
    const std::uint32_t bit = BitOf(line);
    return {(pins.output[bank] & bit) != 0, (pins.level[bank] & bit) != 0,
            (pins.driven[bank] & bit) != 0, (pins.contention[bank] & bit) != 0};
}

PxaGpioModel::PinWords PxaGpioModel::Pins() const {
    PinWords pins{};
    for (unsigned b = 0; b < kBanks; ++b) {
        pins.output[b] = direction_[b];
        pins.level[b] = (latch_[b] & direction_[b]) | (external_[b] & ~direction_[b]);
        pins.driven[b] = driven_[b];
        pins.contention[b] = direction_[b] & driven_[b] & (latch_[b] ^ external_[b]);
        pins.pinOutput[b] = direction_[b];
        pins.input[b] = pins.level[b];
    }
    if (!wiring_.Lines().empty()) ApplyWiring(pins);
    return pins;
}

// The lines a board fault touches, worked out one by one.
void PxaGpioModel::ApplyWiring(PinWords& pins) const {
    const BoardWiring::PinSide pinSide = [this](unsigned gpio) {
        return BoardWiring::Pin{IsOutput(gpio), OutputLatch(gpio)};
    };
    const BoardWiring::OutsideSide outside = [this](unsigned line) {
        const std::uint32_t bit = BitOf(line);
        return BoardWiring::Outside{(driven_[line / 32] & bit) != 0, (external_[line / 32] & bit) != 0};
    };
    const auto set = [](std::uint32_t* words, unsigned line, bool value) {
        if (value) words[line / 32] |= BitOf(line);
        else words[line / 32] &= ~BitOf(line);
    };
    for (unsigned line : wiring_.Lines()) {
        const BoardWiring::Line state = wiring_.LineState(line, pinSide, outside);
        set(pins.output, line, state.output);
        set(pins.level, line, state.level);
        set(pins.driven, line, state.driven);
        set(pins.contention, line, state.contention);
        set(pins.input, line, wiring_.PinInput(line, pinSide, outside));
    }
}

void PxaGpioModel::ReportPinChanges(const PinWords& before) {
    if (!pinListener_) return;
    const PinWords after = Pins();
    const std::uint64_t now = Now();
    for (unsigned b = 0; b < kBanks; ++b) {
        const std::uint32_t changed = (before.output[b] ^ after.output[b]) |
                                      (before.level[b] ^ after.level[b]) |
                                      (before.driven[b] ^ after.driven[b]) |
                                      (before.contention[b] ^ after.contention[b]);
        for (unsigned bit = 0; bit < 32; ++bit) {
            if ((changed & (1u << bit)) != 0) pinListener_(32 * b + bit, Pin(32 * b + bit), now);
        }
    }
}

bool PxaGpioModel::IsOutput(unsigned line) const {
    return line / 32 < kBanks && (direction_[line / 32] & BitOf(line)) != 0;
}

bool PxaGpioModel::OutputLatch(unsigned line) const {
    return line / 32 < kBanks && (latch_[line / 32] & BitOf(line)) != 0;
}

bool PxaGpioModel::PinLevel(unsigned line) const { return Pin(line).level; }

std::uint32_t PxaGpioModel::Contents(const Decoded& d) const {
    switch (d.reg) {
    case Register::Level: return Pins().input[d.index];
    case Register::Direction: return direction_[d.index];
    case Register::Set:
    case Register::Clear: return 0;  // write-only: read as 0
    case Register::RisingEdge: return rising_[d.index];
    case Register::FallingEdge: return falling_[d.index];
    case Register::EdgeStatus: return edgeStatus_[d.index];
    case Register::AltFunction: return altFunction_[d.index];
    }
    return 0;
}

std::uint32_t PxaGpioModel::Peek(std::uint32_t offset) const {
    const Decoded d = Decode(offset);
    return d.valid ? Contents(d) : 0;
}

void PxaGpioModel::Poke(std::uint32_t offset, std::uint32_t value) {
    const Decoded d = Decode(offset);
    if (!d.valid) {
        Fault("poke at offset " + Hex(offset) + ": no GPIO register there");
        return;
    }
    const PinWords before = Pins();
    switch (d.reg) {
    case Register::Level: external_[d.index] = value; break;
    case Register::Direction: direction_[d.index] = value; break;
    case Register::Set: latch_[d.index] |= value; break;
    case Register::Clear: latch_[d.index] &= ~value; break;
    case Register::RisingEdge: rising_[d.index] = value; break;
    case Register::FallingEdge: falling_[d.index] = value; break;
    case Register::EdgeStatus: edgeStatus_[d.index] = value; break;
    case Register::AltFunction: altFunction_[d.index] = value; break;
    }
    ReportPinChanges(before);
}

void PxaGpioModel::SetFaultHandler(FaultHandler handler) { faultHandler_ = std::move(handler); }

void PxaGpioModel::SetTimeSource(TimeSource source) { timeSource_ = std::move(source); }

void PxaGpioModel::Fault(const std::string& message) {
    if (faultHandler_) {
        faultHandler_(message);
        return;
    }
    std::fprintf(stderr, "pxa2xx-gpio bus fault: %s\n", message.c_str());
    std::abort();
}

std::string FormatAccess(const PxaGpioModel::Access& access) {
    return std::string(access.kind == PxaGpioModel::AccessKind::Read ? "R " : "W ") +
           Hex(access.offset) + " " + Hex(access.value);
}

}  // namespace host
