#include "trace_check.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace gpio_check {
namespace {

constexpr std::uint32_t kHostBase = 0x20000000;
constexpr std::size_t kShownChanges = 6;
// Times from sample numbers say what they assume until a capture shows the period.
constexpr const char* kAskedTiming = " at the 10 ms a sample asked";

std::string Hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

std::string Seconds(std::uint64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(us) / 1e6);
    return text;
}

// The line a bit of a direction or function register stands for, or -1
// when neither of the exercise's lines.
int LineOfBit(const std::string& reg, unsigned bit) {
    unsigned bank = 0;
    char half = 0;
    unsigned gpio = 0;
    if (std::sscanf(reg.c_str(), "GPDR%u", &bank) == 1) {
        gpio = 32 * bank + bit;
    } else if (std::sscanf(reg.c_str(), "GAFR%u_%c", &bank, &half) == 2) {
        gpio = 32 * bank + (half == 'U' ? 16 : 0) + bit / 2;
    } else {
        return -1;
    }
    if (gpio == 33) return 0;
    if (gpio == 80) return 1;
    return -1;
}

std::string LineName(int line, const std::string& reg, unsigned bit) {
    return line >= 0 ? kLineNames[line] : reg + " bit " + std::to_string(bit);
}

// Which of the run's messages the trace starts at: the place from which the
// most of its messages follow in order (the first such place on a tie).
struct Alignment {
    std::size_t start = 0;    // index into the expected run
    std::size_t matched = 0;  // messages of the trace that follow in order
    bool ambiguous = false;   // another start fits as well
};

Alignment Align(const std::vector<const TraceMessage*>& trace, const ExpectedRun& expected) {
    Alignment best;
    for (std::size_t start = 0; start < expected.messages.size(); ++start) {
        std::size_t matched = 0;
        while (matched < trace.size() && start + matched < expected.messages.size() &&
               SameStep(*trace[matched], expected.messages[start + matched])) {
            ++matched;
        }
        if (matched > best.matched) {
            best = {start, matched, false};
        } else if (matched == best.matched && matched == trace.size() && matched > 0) {
            best.ambiguous = true;
        }
    }
    return best;
}

void CheckOrder(const std::vector<const TraceMessage*>& trace, std::size_t unrecognised, std::uint64_t damaged,
                const Alignment& at, const ExpectedRun& expected, TraceCheck& check) {
    CheckResult& result = check.order;
    const std::size_t total = expected.messages.size();
    if (at.matched < trace.size()) {
        const TraceMessage& found = *trace[at.matched];
        if (found.kind == MessageKind::Error) {
            result.Raise(Status::Fault);
            result.summary = "the program could not map the GPIO registers: " + DescribeMessage(found);
            result.details.push_back("the device refused the mapping, so neither line was exercised");
            return;
        }
        // Line noise inside a message loses it: a damaged trace, not a
        // board that ran the program out of order.
        result.Raise(damaged > 0 ? Status::Incomplete : Status::Fault);
        const std::size_t expectedIndex = at.start + at.matched;
        result.summary = (damaged > 0 ? "damaged by line noise, judged only up to message "
                                      : "not the program's run in order: message ") +
                         std::to_string(at.matched + 1) + (damaged > 0 ? ", which" : "") + " is " +
                         DescribeMessage(found);
        result.details.push_back(
            expectedIndex < total
                ? "expected " + DescribeMessage(expected.messages[expectedIndex]) + " (" +
                      DescribeStep(expected, expectedIndex) + ") after " +
                      (at.matched > 0 ? DescribeMessage(*trace[at.matched - 1]) : "the start")
                : "expected nothing after the end of the run");
        result.details.push_back("the " + std::to_string(trace.size() - at.matched) +
                                 " messages from there on are not checked");
    } else {
        const bool startsLate = at.start > 0;
        const bool endsEarly = at.start + at.matched < total;
        if (startsLate || endsEarly) result.Raise(Status::Incomplete);
        if (!startsLate && !endsEarly) {
            result.summary = "a whole run in order: " + std::to_string(trace.size()) + " messages";
        } else {
            result.summary = std::string("cut off: ") + (startsLate ? "starts" : "") +
                             (startsLate && endsEarly ? " and " : "") + (endsEarly ? "ends" : "") +
                             " mid-run; what is there is in order";
        }
        if (startsLate) {
            result.details.push_back("starts at " + DescribeStep(expected, at.start) + ": the first " +
                                     std::to_string(at.start) + " messages of the run are missing");
        }
        if (endsEarly) {
            const std::size_t last = at.start + at.matched - 1;
            result.details.push_back("ends after " + DescribeStep(expected, last) + ": the last " +
                                     std::to_string(total - last - 1) + " messages of the run are missing");
        }
        if (at.ambiguous) {
            result.details.push_back("the trace fits more than one place in the run; the first is assumed");
        }
    }
    if (unrecognised > 0) {
        result.details.push_back(std::to_string(unrecognised) +
                                 " piece(s) of text are no message of the program and were skipped");
    }
    if (damaged > 0) {
        result.details.push_back(std::to_string(damaged) +
                                 " character(s) of line noise (bytes that are no text in the trace's encoding) "
                                 "were skipped");
    }
}

void CheckRegisters(const std::vector<const TraceMessage*>& trace, const Alignment& at,
                    const ExpectedRun& expected, TraceCheck& check) {
    CheckResult& result = check.registers;
    struct Last {
        std::string reg;
        std::uint32_t value;
        std::size_t message;
    };
    std::vector<Last> last;
    std::size_t reports = 0, cutOff = 0;
    for (std::size_t i = 0; i < at.matched; ++i) {
        const TraceMessage& report = *trace[i];
        if (report.kind != MessageKind::RegisterReport) continue;
        ++reports;
        const std::string where = "message " + std::to_string(i + 1) + " (" +
                                  DescribeStep(expected, at.start + i) + ")";
        for (Last& previous : last) {
            if (previous.reg != report.name || previous.value == report.value) continue;
            result.Raise(Status::Fault);
            result.details.push_back(report.name + " read " + Hex8(previous.value) + " at message " +
                                     std::to_string(previous.message + 1) + " but " + Hex8(report.value) +
                                     " at " + where + ", and the program wrote nothing to it between: "
                                     "something else on the board drives the register");
        }
        if (!report.complete) {
            ++cutOff;
            continue;
        }
        const RegisterRequest& request = expected.requests[at.start + i];
        const std::uint32_t touched = request.set | request.clear;
        const std::uint32_t wanted = (report.value & ~request.clear) | request.set;
        const std::uint32_t wrong = (report.value2 ^ wanted) & touched;
        for (unsigned bit = 0; bit < 32; ++bit) {
            if ((wrong & (1u << bit)) == 0) continue;
            const int line = LineOfBit(report.name, bit);
            const bool wantedHigh = (wanted & (1u << bit)) != 0;
            std::string text;
            if (report.name.compare(0, 4, "GPDR") == 0) {
                text = LineName(line, report.name, bit) + " could not be made an " +
                       (wantedHigh ? "output" : "input") + ": " + report.name + " bit " +
                       std::to_string(bit) + " reads " + (wantedHigh ? "0" : "1") + " after the update";
            } else if (report.name.compare(0, 4, "GAFR") == 0) {
                if (bit % 2 == 1 && (wrong & (1u << (bit - 1))) != 0) continue;  // one note a field
                const unsigned fieldBit = bit - bit % 2;
                const unsigned function = (report.value2 >> fieldBit) & 3;
                text = LineName(line, report.name, bit) + " is still in alternate function " +
                       std::to_string(function) + ": " + report.name + " bits " +
                       std::to_string(fieldBit + 1) + ":" + std::to_string(fieldBit) +
                       " not cleared by the update";
            } else {
                text = report.name + " bit " + std::to_string(bit) + " reads " + (wantedHigh ? "0" : "1") +
                       " after the update";
            }
            // The line's own verdict needs no line name.
            if (line >= 0) result.Note(line, Status::Fault, text.substr(std::string(kLineNames[line]).size() + 1));
            result.Raise(Status::Fault);
            result.details.push_back(text + ", " + where + ": " + DescribeMessage(report));
        }
        const std::uint32_t others = (report.value ^ report.value2) & ~touched;
        if (others != 0) {
            result.Raise(Status::Fault);
            result.details.push_back("bits " + Hex8(others) + " of " + report.name +
                                     " changed during its update, which keeps them: something else "
                                     "on the board writes the register (" + where + ": " +
                                     DescribeMessage(report) + ")");
        }
        bool known = false;
        for (Last& previous : last) {
            if (previous.reg == report.name) {
                previous = {report.name, report.value2, i};
                known = true;
            }
        }
        if (!known) last.push_back({report.name, report.value2, i});
    }
    if (reports == 0) {
        result.Raise(Status::Incomplete);
        result.summary = "no register report in the trace";
    } else if (result.status == Status::Fault) {
        result.summary = "a register does not hold what the program set (see below)";
    } else {
        result.summary = std::to_string(reports - cutOff) + " reports, each update did what it asked";
    }
    if (cutOff > 0) {
        result.details.push_back(std::to_string(cutOff) + " report(s) without their after-value, not checked");
    }
}

// "low in all 600 samples", or where the level changed, and when, at the
// sample period named by `timing`.
void DescribeReadPhase(TraceCheck& check, const std::string& timing) {
    CheckResult& result = check.readPhase;
    result = CheckResult(result.name);
    if (check.samples.empty()) {
        result.Raise(Status::Incomplete);
        result.summary = "no sample in the trace";
        return;
    }
    result.Raise(Status::Info);
    std::string summary;
    for (int line = 0; line < kLineCount; ++line) {
        std::vector<std::string> changes;
        bool level = (check.samples.front().value & kLineBits[line]) != 0;
        std::size_t highCount = level ? 1 : 0;
        for (std::size_t i = 1; i < check.samples.size(); ++i) {
            const TraceSample& sample = check.samples[i];
            const bool now = (sample.value & kLineBits[line]) != 0;
            if (now) ++highCount;
            if (now == level) continue;
            changes.push_back(std::string(now ? "high" : "low") + " from sample " +
                              std::to_string(sample.number) + " (" + Seconds(sample.afterWriteEndUs) +
                              " into the read phase" + timing + ")");
            level = now;
        }
        const std::string count = std::to_string(check.samples.size());
        std::string text;
        if (changes.empty()) {
            text = std::string("reads ") + (level ? "high" : "low") + " in all " + count + " samples";
        } else {
            text = "reads high in " + std::to_string(highCount) + " of " + count + " samples, " +
                   std::to_string(changes.size()) + " change(s): ";
            for (std::size_t c = 0; c < changes.size() && c < kShownChanges; ++c) {
                text += (c > 0 ? ", " : "") + changes[c];
            }
            if (changes.size() > kShownChanges) text += ", ...";
        }
        result.Note(line, Status::Info, text);
        result.details.push_back(std::string(kLineNames[line]) + " " + text);
        summary += (summary.empty() ? "" : "; ") + std::string(kLineNames[line]) + " " +
                   (changes.empty() ? (level ? "high" : "low") : "changing");
    }
    if (!check.samplesPlaced) {
        result.details.push_back("sample numbers and times are a guess: the trace fits more than one place in the run");
    }
    result.summary = std::to_string(check.samples.size()) + " samples: " + summary;
}

}  // namespace

CheckResult PinsNotCaptured() {
    CheckResult result("pins");
    result.Raise(Status::NotSeen);
    result.summary = "not seen: no capture, and a trace cannot show a stuck, swapped or shorted output "
                     "(give --capture too)";
    for (int line = 0; line < kLineCount; ++line) result.Note(line, Status::NotSeen, "its pin not seen (no capture)");
    return result;
}

std::uint32_t MappedBase(const std::vector<TraceMessage>& messages) {
    for (const TraceMessage& message : messages) {
        if (message.kind == MessageKind::Mapped) return message.value2;
    }
    return kHostBase;
}

TraceCheck CheckTrace(const std::vector<TraceMessage>& messages, const ExpectedRun& expected) {
    SavedTrace saved;
    saved.messages = messages;
    return CheckTrace(saved, expected);
}

TraceCheck CheckTrace(const SavedTrace& saved, const ExpectedRun& expected) {
    TraceCheck check;
    std::vector<const TraceMessage*> whole;
    for (const TraceMessage& message : saved.messages) whole.push_back(&message);
    const std::size_t unrecognised = saved.unrecognised;
    check.anyMessage = !whole.empty();
    if (!check.anyMessage) return check;

    // A board that restarts prints the run again from its first message:
    // the last run that is whole is judged (else the last run), and what
    // came before it is only reported.
    std::vector<std::size_t> starts;
    for (std::size_t i = 1; i < whole.size(); ++i) {
        if (whole[i]->kind == MessageKind::RoutineStart) starts.push_back(i);
    }
    std::vector<const TraceMessage*> trace = whole;
    std::size_t judgedFrom = 0;
    Alignment at;
    if (starts.empty()) {
        at = Align(trace, expected);
    } else {
        std::vector<std::size_t> runStarts = starts;
        runStarts.insert(runStarts.begin(), 0);
        bool chosen = false;
        for (std::size_t r = runStarts.size(); r-- > 0;) {
            const std::size_t end = r + 1 < runStarts.size() ? runStarts[r + 1] : whole.size();
            std::vector<const TraceMessage*> run(whole.begin() + static_cast<long>(runStarts[r]),
                                                 whole.begin() + static_cast<long>(end));
            const Alignment runAt = Align(run, expected);
            const bool runWhole =
                runAt.start == 0 && runAt.matched == run.size() && run.size() == expected.messages.size();
            if (runWhole || !chosen) {
                judgedFrom = runStarts[r];
                trace = std::move(run);
                at = runAt;
                chosen = true;
            }
            if (runWhole) break;
        }
    }
    CheckOrder(trace, unrecognised, saved.damaged, at, expected, check);
    if (!starts.empty()) {
        std::string restarts;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            restarts += (i == 0 ? "" : i + 1 == starts.size() ? " and " : ", ") + std::to_string(starts[i] + 1);
        }
        const std::size_t after = judgedFrom + trace.size();
        check.order.Raise(Status::Info);
        check.order.summary = "the board restarted (the run starts again at message " + restarts +
                              "); the run from message " + std::to_string(judgedFrom + 1) + " judged: " +
                              check.order.summary;
        check.order.details.insert(
            check.order.details.begin(),
            "the program started " + std::to_string(starts.size() + 1) + " times: +TolvarGPIOTest at message 1" +
                (starts.size() > 1 ? ", " : " and ") + restarts + "; messages " + std::to_string(judgedFrom + 1) +
                " to " + std::to_string(after) + " are judged, the " +
                std::to_string(whole.size() - trace.size()) + " others only counted");
    }
    CheckRegisters(trace, at, expected, check);
    std::size_t number = 0;
    for (std::size_t i = 0; i < at.start; ++i) {
        if (expected.messages[i].kind == MessageKind::ReadValue) ++number;
    }
    for (std::size_t i = 0; i < at.matched; ++i) {
        if (trace[i]->kind != MessageKind::ReadValue) continue;
        const std::uint64_t timeUs = expected.timesUs[at.start + i];
        check.samples.push_back({++number, trace[i]->value,
                                 timeUs >= expected.writeEndUs ? timeUs - expected.writeEndUs : 0});
    }
    check.samplesPlaced = !at.ambiguous;
    DescribeReadPhase(check, kAskedTiming);
    return check;
}

void RetimeReadPhase(TraceCheck& check, double periodUs) {
    for (TraceSample& sample : check.samples) {
        sample.afterWriteEndUs = static_cast<std::uint64_t>(static_cast<double>(sample.number - 1) * periodUs + 0.5);
    }
    char timing[64];
    std::snprintf(timing, sizeof timing, " at the %.1f ms a sample found", periodUs / 1000);
    DescribeReadPhase(check, timing);
}

}  // namespace gpio_check
