// What the lines do after the write phase, while the program samples them.

#include "capture_analyser.h"

namespace gpio_check {
namespace analysis {

void Analyser::DescribeReadPhase() {
    CheckResult& result = out_.readPhase;
    const double start = out_.writeEndPs;
    const double length = static_cast<double>(plan_.sampleStepPs * plan_.samples);
    if (start >= endPs_) {
        result.Raise(Status::Incomplete);
        result.summary = "not captured: the capture ends before it";
        return;
    }
    result.Raise(Status::Info);
    // A board whose samples come late has a longer read phase: all of
    // the capture after the write phase is its.
    const double captured = endPs_ - start;
    if (captured < length * 0.99) {
        result.Raise(Status::Incomplete);
        result.details.push_back("the capture ends " + Seconds(captured) + " into the read phase");
    }
    std::string summary;
    for (int line = 0; line < kLineCount; ++line) {
        const Segments& segments = raw_[static_cast<std::size_t>(line)];
        std::string text;
        std::size_t changes = 0;
        Level first = LevelAt(LineOf(capture_, line), start + 0.001 * kPsPerMs);
        for (const Segment& s : segments) {
            if (s.start <= start + 0.001 * kPsPerMs || s.start >= start + captured) continue;
            if (changes < kShownSteps) {
                text += std::string(changes == 0 ? "" : ", ") + LevelWord(s.level) + " from " +
                        Seconds(s.start - start);
            }
            ++changes;
        }
        if (changes == 0) {
            text = std::string(LevelWord(first)) + " throughout";
        } else {
            text = std::string(LevelWord(first)) + " at first, then " + text + (changes > kShownSteps ? ", ..." : "") +
                   " (" + std::to_string(changes) + " change(s))";
        }
        result.Note(line, Status::Info, "pin " + text + " in the read phase");
        result.details.push_back(std::string(kLineNames[line]) + " " + text + " (times from the phase's start)");
        summary += (summary.empty() ? "" : "; ") + std::string(kLineNames[line]) + " " +
                   (changes == 0 ? LevelWord(first) : "changing");
    }
    result.summary = Seconds(captured) + " captured: " + summary;
}

}  // namespace analysis
}  // namespace gpio_check
