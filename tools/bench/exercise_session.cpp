#include "exercise_session.h"

#include "TolvarGPIOTest.h"
#include "device_executable.h"
#include "simulated_board.h"

namespace gpio_bench {

SessionResult RunExerciseSession(ClockKind clock, const std::vector<ScheduledDrive>& schedule,
                                 bool captureTrace, const BoardFaults& faults, const BoardTiming& timing,
                                 const std::vector<std::uint8_t>* executable, bool pxa255Core) {
    SessionResult result;
    host::SimulatedBoard& board = host::SimulatedBoard::Instance();
    board.PowerUp();  // also starts the board's clock at 0
    if (clock == ClockKind::Simulated) board.UseVirtualClock();
    if (captureTrace) board.CaptureTrace();
    for (const auto& fault : faults.wiring) board.Gpio().AddBoardFault(fault);
    if (faults.slowClock > 0) board.SlowClock(faults.slowClock);
    board.DebugPortBaud(timing.debugBaud);
    board.SleepTick(timing.sleepTickUs);

    result.recording.Start(board.Gpio());
    board.Gpio().SetPinListener([&result](unsigned gpio, const PinState& state, std::uint64_t timeUs) {
        result.recording.OnPinChange(gpio, state, timeUs);
    });
    for (const auto& drive : schedule) board.ScheduleDrive(drive.gpio, drive.drive, drive.atUs);

    result.exitCode = executable != nullptr ? RunDeviceExecutable(*executable, pxa255Core, result.processReport)
                                            : TolvarGPIOTest(nullptr, nullptr, nullptr, 0);

    result.recording.Finish(board.NowUs());
    result.trace = board.Trace();
    result.accesses = board.Gpio().AccessLog();
    board.PowerUp();  // lets go of the listener, which refers to this result
    return result;
}

std::uint64_t RunLengthUs(double slowClock, const BoardTiming& timing) {
    if (slowClock == 0 && timing.debugBaud == 0 && timing.sleepTickUs == 0) return kRunLengthUs;
    BoardFaults clock;
    clock.slowClock = slowClock;
    return RunExerciseSession(ClockKind::Simulated, {}, true, clock, timing).recording.EndUs();
}

}  // namespace gpio_bench
