// Each line's level in each placed step against the patterns: the steps
// the capture misses, lines stuck, inverted, swapped or shorted, wrong
// steps, and steps the board skipped.

#include "capture_analyser.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace gpio_check {
namespace analysis {

std::string StepList(const std::vector<std::size_t>& steps) {
    std::string text;
    for (std::size_t i = 0; i < steps.size() && i < kShownSteps; ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(steps[i] + 1);
    }
    if (steps.size() > kShownSteps) text += ", ...";
    return text;
}

// "step 7" or "steps 1 to 41", numbered from 1.
std::string StepRange(std::size_t first, std::size_t last) {
    return first == last ? "step " + std::to_string(first) + " is"
                         : "steps " + std::to_string(first) + " to " + std::to_string(last) + " are";
}

std::vector<std::size_t> Analyser::WrongSteps(int line, const Skip& skip) const {
    std::vector<std::size_t> wrong;
    const auto& levels = steps_.level[static_cast<std::size_t>(line)];
    for (std::size_t s = 0; s < levels.size(); ++s) {
        if (!steps_.captured[s]) continue;
        const long planned = static_cast<long>(s) + (s >= skip.from ? skip.after : skip.before);
        if (planned < 0 || planned >= static_cast<long>(plan_.patterns.size())) continue;
        if (!Agrees(levels[s], Expected(plan_, line, static_cast<std::size_t>(planned)))) wrong.push_back(s);
    }
    return wrong;
}

void Analyser::JudgeLines() {
    CheckResult& result = out_.writePhase;
    const std::size_t count = plan_.patterns.size();
    std::size_t firstCaptured = count, lastCaptured = 0;
    for (std::size_t s = 0; s < count; ++s) {
        if (!steps_.captured[s]) continue;
        firstCaptured = std::min(firstCaptured, s);
        lastCaptured = s;
    }
    if (firstCaptured > 0) {
        result.Raise(Status::Incomplete);
        result.details.push_back("the capture starts after the write phase began (it would have begun at " +
                                 Seconds(out_.firstStepPs) + "): " + StepRange(1, firstCaptured) +
                                 " not in it");
    }
    if (lastCaptured + 1 < count) {
        result.Raise(Status::Incomplete);
        result.details.push_back("the capture ends before the write phase does: " +
                                 StepRange(lastCaptured + 2, count) + " not in it");
    }
    if (!out_.stepsNumbered) {
        result.Raise(Status::Incomplete);
        const long off = std::lround((out_.otherFirstStepPs - out_.firstStepPs) / out_.stepPs);
        result.details.push_back("the capture holds neither the first steps of the write phase nor its last: "
                                 "the steps seen fit as well " + std::to_string(std::labs(off)) +
                                 " steps " + (off < 0 ? "earlier" : "later") +
                                 ", so which steps they are is not known (numbered here by the first fit)");
    }
    if (FindShort()) return;
    FindMissingSteps();
    std::array<std::vector<std::size_t>, kLineCount> wrong;
    for (int line = 0; line < kLineCount; ++line) {
        wrong[static_cast<std::size_t>(line)] = WrongSteps(line, skip_);
    }
    const auto agree33 = Agreements(steps_, plan_, 0);
    const auto agree80 = Agreements(steps_, plan_, 1);
    const std::size_t n = steps_.capturedCount;
    if (!wrong[0].empty() && !wrong[1].empty() && agree33[kOtherLine] == n && agree80[kOtherLine] == n) {
        result.details.push_back("GPIO33 shows GPIO80's pattern and GPIO80 shows GPIO33's in every step");
        result.details.push_back("a capture cannot tell lines crossed on the board from the analyser's probes "
                                 "swapped: check which probe is on which pin; if they are right, the board "
                                 "has GPIO33 and GPIO80 crossed");
        out_.linesSwapped = true;
        for (int line = 0; line < kLineCount; ++line) {
            result.Note(line, Status::Fault, "swapped with the other line, or the probes are: carries " +
                                                 std::string(kLineNames[1 - line]) + "'s pattern");
            Mark(line, StepStart(0), out_.writeEndPs, "swapped");
        }
        result.summary = "the two lines are swapped (or the analyser's probes are)";
        return;
    }
    for (int line = 0; line < kLineCount; ++line) JudgeLine(line, wrong[static_cast<std::size_t>(line)]);
    if (result.summary.empty()) {
        std::string faults;
        for (const LineNote& note : result.lineNotes) {
            if (note.status != Status::Fault) continue;
            faults += (faults.empty() ? "" : "; ") + std::string(kLineNames[note.line]) + " " +
                      note.text.substr(0, note.text.find(':'));
        }
        result.summary = faults.empty() ? std::to_string(n) + " steps found, both lines follow the patterns"
                                        : faults;
        if (!out_.stepsNumbered) result.summary += "; which steps they are is not known";
    }
}

void Analyser::JudgeLine(int line, const std::vector<std::size_t>& wrong) {
    CheckResult& result = out_.writePhase;
    const std::string name = kLineNames[line];
    const auto& levels = steps_.level[static_cast<std::size_t>(line)];
    const auto agree = Agreements(steps_, plan_, line);
    const std::size_t n = steps_.capturedCount;
    std::size_t low = 0, high = 0;
    for (std::size_t s = 0; s < levels.size(); ++s) {
        if (!steps_.captured[s]) continue;
        low += levels[s] == Level::Low;
        high += levels[s] == Level::High;
    }
    if (wrong.empty()) {
        result.Note(line, Status::Ok, "follows the patterns in all " + std::to_string(n) + " steps");
        return;
    }
    std::string text;
    bool wholeLine = true;  // one reading explains every step
    if (low == n) {
        text = "stuck low: low in all " + std::to_string(n) + " steps";
    } else if (high == n) {
        text = "stuck high: high in all " + std::to_string(n) + " steps";
    } else if (agree[kInverted] == n) {
        text = "inverted: the opposite level in all " + std::to_string(n) + " steps";
    } else if (agree[kOtherLine] == n) {
        text = std::string("carries ") + kLineNames[1 - line] + "'s pattern in all " + std::to_string(n) + " steps";
    } else {
        text = "wrong level in " + std::to_string(wrong.size()) + " of " + std::to_string(n) +
               " steps: " + StepList(wrong);
        wholeLine = false;
    }
    result.Note(line, Status::Fault, text);
    result.details.push_back(name + " " + text);
    const std::string label = text.substr(0, text.find(':'));
    if (wholeLine) {
        Mark(line, StepStart(wrong.front()), StepStart(wrong.back() + 1), label);
        return;
    }
    for (std::size_t i = 0; i < wrong.size(); ++i) {
        // One mark for each run of wrong steps.
        std::size_t last = i;
        while (last + 1 < wrong.size() && wrong[last + 1] == wrong[last] + 1) ++last;
        Mark(line, StepStart(wrong[i]), StepStart(wrong[last] + 1), label);
        i = last;
    }
}

// Both lines at one level in every step, where the patterns differ.
bool Analyser::FindShort() {
    CheckResult& result = out_.writePhase;
    bool differ = false, changes = false;
    Level whereDiffer = Level::Low;
    bool oneLevel = true;
    for (std::size_t s = 0; s < plan_.patterns.size(); ++s) {
        if (!steps_.captured[s]) continue;
        if (steps_.level[0][s] != steps_.level[1][s]) return false;
        if (s > 0 && steps_.captured[s - 1] && steps_.level[0][s] != steps_.level[0][s - 1]) changes = true;
        if (Expected(plan_, 0, s) != Expected(plan_, 1, s)) {
            if (differ && steps_.level[0][s] != whereDiffer) oneLevel = false;
            whereDiffer = steps_.level[0][s];
            differ = true;
        }
    }
    if (!differ || !changes) return false;
    std::string how = oneLevel ? std::string("where the patterns differ both are ") + LevelWord(whereDiffer)
                               : std::string("both show the same level in every step");
    result.summary = "the two lines are shorted together";
    result.details.push_back("GPIO33 and GPIO80 have one level in every step; " + how);
    for (int line = 0; line < kLineCount; ++line) {
        result.Note(line, Status::Fault, "shorted to " + std::string(kLineNames[1 - line]) + ": " + how);
        Mark(line, StepStart(0), out_.writeEndPs, "shorted");
    }
    return true;
}

// Steps the board never showed: from some step on, the levels are
// those of a later step of the patterns. The steps may have been
// placed by the part before the gap or by the part after it.
void Analyser::FindMissingSteps() {
    const std::size_t count = plan_.patterns.size();
    const auto wrongCount = [&](const Skip& skip) {
        std::size_t wrong = 0;
        for (int line = 0; line < kLineCount; ++line) wrong += WrongSteps(line, skip).size();
        return wrong;
    };
    const std::size_t plain = wrongCount(Skip{});
    if (plain < 4) return;
    // A line that is stuck, inverted or the other's is the simpler
    // reading: an inverted GPIO33 also looks like two steps skipped.
    bool everyLineRead = true;
    for (int line = 0; line < kLineCount; ++line) {
        const auto agree = Agreements(steps_, plan_, line);
        std::size_t low = 0, high = 0;
        for (std::size_t s = 0; s < count; ++s) {
            if (!steps_.captured[s]) continue;
            low += steps_.level[static_cast<std::size_t>(line)][s] == Level::Low;
            high += steps_.level[static_cast<std::size_t>(line)][s] == Level::High;
        }
        const std::size_t n = steps_.capturedCount;
        everyLineRead = everyLineRead && (low == n || high == n || agree[kFollows] == n ||
                                          agree[kInverted] == n || agree[kOtherLine] == n);
    }
    if (everyLineRead) return;
    std::size_t best = plain;
    Skip bestSkip;
    for (long missing = 1; missing <= static_cast<long>(kLargestMissingRun); ++missing) {
        for (std::size_t from = 1; from + 1 < count; ++from) {
            for (const Skip skip : {Skip{from, 0, missing}, Skip{from, -missing, 0}}) {
                const std::size_t wrong = wrongCount(skip);
                if (wrong < best) {
                    best = wrong;
                    bestSkip = skip;
                }
            }
        }
    }
    if (best > 2 || best + 4 > plain) return;
    skip_ = bestSkip;
    const long missing = bestSkip.after - bestSkip.before;
    out_.missingSteps = static_cast<std::size_t>(missing);
    // The phase starts where planned step 0 is, and ends that many steps early.
    const double gapPs = StepStart(bestSkip.from);
    out_.firstStepPs -= static_cast<double>(bestSkip.before) * out_.stepPs;
    out_.writeEndPs = out_.firstStepPs + static_cast<double>(count - out_.missingSteps) * out_.stepPs;
    const long lastShown = static_cast<long>(bestSkip.from) + bestSkip.before;
    CheckResult& result = out_.writePhase;
    result.Raise(Status::Fault);
    const std::string text = std::to_string(missing) + " step(s) missing: after step " +
                             std::to_string(lastShown) + " the lines go on with step " +
                             std::to_string(lastShown + missing + 1) + " at " + Seconds(gapPs);
    result.summary = text;
    result.details.push_back(text + "; the write phase ends " + std::to_string(missing) +
                             " step(s) early, at " + Seconds(out_.writeEndPs));
    for (int line = 0; line < kLineCount; ++line) {
        Mark(line, gapPs - 0.05 * out_.stepPs, gapPs + 0.05 * out_.stepPs, "steps missing");
    }
}

}  // namespace analysis
}  // namespace gpio_check
