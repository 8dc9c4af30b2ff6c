// Pulses far shorter than a step in the write phase.

#include "capture_analyser.h"

namespace gpio_check {
namespace analysis {

void Analyser::FindGlitches() {
    CheckResult& result = out_.glitches;
    const double shortest = kGlitchFraction * static_cast<double>(plan_.stepPs);
    const double from = std::max(startPs_, out_.firstStepPs), to = out_.writeEndPs;
    std::size_t total = 0;
    for (int line = 0; line < kLineCount; ++line) {
        std::vector<double> times;
        for (const Segment& s : pulses_[static_cast<std::size_t>(line)]) {
            if (s.start < from || s.end > to) continue;
            times.push_back(s.start);
            Mark(line, s.start - 0.02 * out_.stepPs, s.end + 0.02 * out_.stepPs, "glitch");
        }
        if (times.empty()) continue;
        total += times.size();
        const std::string text = std::to_string(times.size()) + " glitch(es) shorter than " +
                                 Milliseconds(shortest) + ", the first at " + Seconds(times.front());
        result.Note(line, Status::Fault, text);
        result.details.push_back(std::string(kLineNames[line]) + ": " + text);
    }
    result.summary = total == 0 ? "no pulse shorter than " + Milliseconds(shortest) + " in the write phase"
                                : std::to_string(total) + " pulse(s) far shorter than a step";
}

}  // namespace analysis
}  // namespace gpio_check
