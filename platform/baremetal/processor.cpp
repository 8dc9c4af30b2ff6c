#include "processor.h"

namespace board {
namespace {

constexpr std::uint32_t kIntel = 0x69;
constexpr std::uint32_t kArchitectureV5TE = 0x5;
constexpr std::uint32_t kXScaleGeneration1 = 1;  // PXA25x
constexpr std::uint32_t kXScaleGeneration2 = 2;  // PXA27x

// The OS timer's clock: 3.6864 MHz on the PXA25x, 3.25 MHz on the PXA27x.
constexpr std::uint32_t kPxa25xOsTimerHz = 3686400;
constexpr std::uint32_t kPxa27xOsTimerHz = 3250000;

Processor thisProcessor = Processor::kUnknown;

}  // namespace

std::uint32_t ReadMainId() {
    std::uint32_t value;
    asm volatile("mrc p15, 0, %0, c0, c0, 0" : "=r"(value));
    return value;
}

Processor IdentifyProcessor(std::uint32_t mainId) {
    if (mainId >> 24 != kIntel || ((mainId >> 16) & 0xF) != kArchitectureV5TE) {
        return Processor::kUnknown;
    }
    switch ((mainId >> 13) & 0x7) {
        case kXScaleGeneration1: return Processor::kPxa25x;
        case kXScaleGeneration2: return Processor::kPxa27x;
        default: return Processor::kUnknown;
    }
}

Processor ThisProcessor() { return thisProcessor; }
void SetThisProcessor(Processor processor) { thisProcessor = processor; }

std::uint32_t OsTimerTicks(Processor processor, std::uint32_t milliseconds) {
    const std::uint32_t hz = processor == Processor::kPxa25x ? kPxa25xOsTimerHz : kPxa27xOsTimerHz;
    // Whole seconds and the rest apart, so that nothing overflows 32 bits
    // and no rounded per-millisecond rate adds up over long sleeps.
    return milliseconds / 1000 * hz + (milliseconds % 1000 * hz + 999) / 1000;
}

}  // namespace board
