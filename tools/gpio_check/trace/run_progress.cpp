#include "run_progress.h"

#include <cstdio>

namespace gpio_check {
namespace {

// The base in "mapped to" is the board's own, not the simulated board's.
bool SameStepAnyBase(const TraceMessage& a, const TraceMessage& b) {
    if (a.kind == MessageKind::Mapped && b.kind == MessageKind::Mapped) return a.value == b.value;
    return SameStep(a, b);
}

std::string UpdateFault(const TraceMessage& report, const RegisterRequest& request) {
    if (!report.complete) return "";
    const std::uint32_t touched = request.set | request.clear;
    const std::uint32_t wanted = (report.value & ~request.clear) | request.set;
    const std::uint32_t wrong = (report.value2 ^ wanted) & touched;
    if (wrong == 0) return "";
    return report.name + " did not take its update: " + DescribeMessage(report);
}

}  // namespace

RunProgress FollowRun(const std::vector<TraceMessage>& messages, const ExpectedRun& expected) {
    RunProgress progress;
    for (const TraceMessage& message : expected.messages) {
        if (message.kind == MessageKind::Writing) ++progress.steps;
        if (message.kind == MessageKind::ReadValue) ++progress.samples;
    }
    progress.messages = messages.size();
    if (messages.empty()) return progress;
    progress.started = true;
    // A port opened late sees the run from where it had got to: the place
    // from which the most messages follow in order (many places fit a
    // first "Read value"), the first place all follow from when one does.
    const auto follows = [&](std::size_t start) {
        std::size_t n = 0;
        while (n < messages.size() && start + n < expected.messages.size() &&
               messages[n].kind != MessageKind::Error && SameStepAnyBase(messages[n], expected.messages[start + n])) {
            ++n;
        }
        return n;
    };
    std::size_t at = 0, best = 0;
    for (std::size_t start = 0; start < expected.messages.size() && best < messages.size(); ++start) {
        if (!SameStepAnyBase(messages.front(), expected.messages[start])) continue;
        const std::size_t n = follows(start);
        if (n > best) at = start, best = n;
    }
    std::size_t followed = 0;
    for (const TraceMessage& message : messages) {
        if (message.kind == MessageKind::Error) {
            if (progress.firstFault.empty()) progress.firstFault = "the program says " + DescribeMessage(message);
            break;
        }
        const std::size_t index = at + followed;
        if (index >= expected.messages.size() || !SameStepAnyBase(message, expected.messages[index])) {
            if (progress.firstFault.empty()) {
                progress.firstFault = "message " + std::to_string(followed + 1) + " out of order: " +
                                      DescribeMessage(message) +
                                      (index < expected.messages.size()
                                           ? " where " + DescribeMessage(expected.messages[index]) + " was due"
                                           : " after the run's end");
            }
            break;
        }
        // A register that did not take its update is the first fault, and the run goes on.
        if (message.kind == MessageKind::RegisterReport && progress.firstFault.empty()) {
            progress.firstFault = UpdateFault(message, expected.requests[index]);
        }
        ++followed;
    }
    // How far the run got: counted in the run the messages follow.
    const std::size_t reached = at + followed;  // messages of the run up to here
    bool writing = false, reading = false;
    for (std::size_t i = 0; i < reached && i < expected.messages.size(); ++i) {
        const MessageKind kind = expected.messages[i].kind;
        if (kind == MessageKind::Writing) ++progress.step, writing = true;
        if (kind == MessageKind::ReadValue) ++progress.sample, reading = true;
    }
    if (reached >= expected.messages.size()) {
        progress.phase = "done";
        progress.closed = true;
    } else if (reading && progress.sample == progress.samples) {
        progress.phase = "closing";
    } else if (reading) {
        progress.phase = "read phase";
    } else if (writing) {
        progress.phase = "write phase";
    } else {
        progress.phase = "setting up";
    }
    // Cut short by a fault, the closing message still ends the reading.
    if (messages.back().kind == MessageKind::RoutineEnd) progress.closed = true;
    return progress;
}

std::string ProgressText(const RunProgress& progress, double secondsSinceStart, std::size_t width) {
    std::string text = progress.phase;
    if (progress.phase == "write phase") {
        text += ": step " + std::to_string(progress.step) + " of " + std::to_string(progress.steps);
    } else if (progress.phase == "read phase" || progress.phase == "closing" || progress.phase == "done") {
        text += ": sample " + std::to_string(progress.sample) + " of " + std::to_string(progress.samples);
    }
    if (progress.started) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, ", %.1f s", secondsSinceStart);
        text += seconds;
    }
    if (!progress.firstFault.empty()) text += "; FAULT: " + progress.firstFault;
    if (text.size() > width) text = text.substr(0, width - 3) + "...";
    return text;
}

}  // namespace gpio_check
