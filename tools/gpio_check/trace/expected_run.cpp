#include "expected_run.h"

#include <cstddef>

#include "GpioRegisterBlock.h"
#include "TolvarGPIOTest.h"
#include "simulated_board.h"

namespace gpio_check {
namespace {

struct SimulatedTrace {
    std::string text;
    std::vector<host::SimulatedBoard::SleepRecord> sleeps;
};

// One run of the routine from power-up, with the direction and function
// registers of the three banks preset to `presetValue`.
SimulatedTrace RunOnSimulatedBoard(std::uint32_t presetValue) {
    host::SimulatedBoard& board = host::SimulatedBoard::Instance();
    board.PowerUp();
    board.UseVirtualClock();
    board.CaptureTrace();
    for (std::size_t offset = offsetof(GpioRegisterBlock, GPDR0);
         offset <= offsetof(GpioRegisterBlock, GPDR2); offset += 4) {
        board.Gpio().Poke(static_cast<std::uint32_t>(offset), presetValue);
    }
    for (std::size_t offset = offsetof(GpioRegisterBlock, GAFR0_L);
         offset <= offsetof(GpioRegisterBlock, GAFR2_U); offset += 4) {
        board.Gpio().Poke(static_cast<std::uint32_t>(offset), presetValue);
    }
    TolvarGPIOTest(nullptr, nullptr, nullptr, 0);
    SimulatedTrace result{board.Trace(), board.Sleeps()};
    board.PowerUp();
    return result;
}

std::string Ordinal(std::size_t n) {
    const char* suffix = "th";
    if (n % 100 < 11 || n % 100 > 13) {
        if (n % 10 == 1) suffix = "st";
        if (n % 10 == 2) suffix = "nd";
        if (n % 10 == 3) suffix = "rd";
    }
    return std::to_string(n) + suffix;
}

}  // namespace

ExpectedRun RunExpectedExercise(std::uint32_t mappedBase) {
    // From all zeros the after-values show the bits an update sets; from
    // all ones, the bits it clears.
    const SimulatedTrace fromZeros = RunOnSimulatedBoard(0);
    const SimulatedTrace fromOnes = RunOnSimulatedBoard(0xFFFFFFFF);
    ExpectedRun run;
    run.messages = SplitTraceMessages(fromZeros.text);
    const std::vector<TraceMessage> onesMessages = SplitTraceMessages(fromOnes.text);

    std::uint64_t nowUs = 0;
    std::size_t sleep = 0;
    bool inWritePhase = false;
    for (std::size_t i = 0; i < run.messages.size(); ++i) {
        TraceMessage& message = run.messages[i];
        // A message printed after a sleep has begun comes after it ends.
        while (sleep < fromZeros.sleeps.size() && fromZeros.sleeps[sleep].traceLength <= message.offset) {
            nowUs += 1000ull * fromZeros.sleeps[sleep++].milliseconds;
        }
        run.timesUs.push_back(nowUs);
        RegisterRequest request;
        if (message.kind == MessageKind::RegisterReport && i < onesMessages.size()) {
            request.set = message.value2;
            request.clear = ~onesMessages[i].value2 & ~request.set;
        }
        run.requests.push_back(request);
        if (message.kind == MessageKind::Mapped) message.value2 = mappedBase;
        if (message.kind == MessageKind::Writing) inWritePhase = true;
        if (message.kind == MessageKind::DirectionStart && inWritePhase) {
            run.writeEndUs = nowUs;
            inWritePhase = false;
        }
    }
    return run;
}

std::string DescribeStep(const ExpectedRun& run, std::size_t index) {
    std::size_t same = 0, writes = 0, reads = 0, allWrites = 0, allReads = 0;
    for (std::size_t i = 0; i < run.messages.size(); ++i) {
        const bool upTo = i <= index;
        if (run.messages[i].kind == MessageKind::Writing) {
            ++allWrites;
            if (upTo) ++writes;
        }
        if (run.messages[i].kind == MessageKind::ReadValue) {
            ++allReads;
            if (upTo) ++reads;
        }
        if (upTo && SameStep(run.messages[i], run.messages.at(index))) ++same;
    }
    const TraceMessage& message = run.messages.at(index);
    if (message.kind == MessageKind::Writing) {
        return "write step " + std::to_string(writes) + " of " + std::to_string(allWrites);
    }
    if (message.kind == MessageKind::ReadValue) {
        return "sample " + std::to_string(reads) + " of " + std::to_string(allReads);
    }
    // Not the simulated board's values: they are not the board's.
    if (message.kind == MessageKind::RegisterReport) return "the " + Ordinal(same) + " " + message.name + " report";
    return "the " + Ordinal(same) + " " + DescribeMessage(message);
}

}  // namespace gpio_check
