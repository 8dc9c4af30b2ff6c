#include "check_report.h"

#include <algorithm>
#include <cstdio>

namespace gpio_check {

const char* StatusWord(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::Info: return "info";
    case Status::NotSeen: return "not seen";
    case Status::Incomplete: return "cut off";
    case Status::Fault: return "FAULT";
    }
    return "?";
}

namespace {

std::string VerdictLine(const std::string& subject, Status status, const std::string& text) {
    char head[64];
    std::snprintf(head, sizeof head, "%-24s %-8s ", subject.c_str(), StatusWord(status));
    return head + text + "\n";
}

Status Worst(const std::vector<CheckResult>& checks) {
    Status worst = Status::Ok;
    for (const CheckResult& check : checks) {
        if (static_cast<int>(check.status) > static_cast<int>(worst)) worst = check.status;
    }
    return worst;
}

}  // namespace

Status OverallStatus(const std::vector<CheckResult>& checks) {
    const Status worst = Worst(checks);
    return worst == Status::Info ? Status::Ok : worst;
}

std::string OverallText(const std::vector<CheckResult>& checks) {
    std::string faulty, missing;
    for (const CheckResult& check : checks) {
        if (check.status == Status::Fault) faulty += (faulty.empty() ? "" : ", ") + check.name;
        if (check.status == Status::Incomplete || check.status == Status::NotSeen) {
            missing += (missing.empty() ? "" : "; ") + check.name + ": " + check.summary;
        }
    }
    switch (OverallStatus(checks)) {
    case Status::Fault:
        return "the board does not do what the program asks; found by: " + faulty +
               (missing.empty() ? "" : "; and not all was checked");
    case Status::Incomplete: return "no fault found, but not a whole run: " + missing;
    case Status::NotSeen: return "no fault found, but not all was seen: " + missing;
    default: break;
    }
    // A capture alone passes on the pins; what the program read and its
    // register reports were not looked at, and the verdict says so.
    const bool traced =
        std::any_of(checks.begin(), checks.end(), [](const CheckResult& c) { return c.name == "trace"; });
    return traced ? "a whole run seen; every check ran and passed"
                  : "a whole run seen; every check ran and passed (a capture alone: the register reports and "
                    "what the inputs read need the trace too)";
}

LineVerdict VerdictForLine(const std::vector<CheckResult>& checks, int line) {
    LineVerdict verdict;
    std::string faults, passed, others;
    bool anyNote = false;
    for (const CheckResult& check : checks) {
        for (const LineNote& note : check.lineNotes) {
            if (note.line != line) continue;
            anyNote = true;
            if (note.status == Status::Fault) {
                verdict.status = Status::Fault;
                verdict.faults.push_back(note.text);
                faults += (faults.empty() ? "" : "; ") + note.text;
            } else if (note.status == Status::Ok) {
                // What passed before what is only reported.
                if (verdict.status == Status::Info) verdict.status = Status::Ok;
                passed += (passed.empty() ? "" : "; ") + note.text;
            } else {
                const bool short_ = note.status == Status::Incomplete || note.status == Status::NotSeen;
                if (short_ && static_cast<int>(note.status) > static_cast<int>(verdict.status)) {
                    verdict.status = note.status;
                }
                others += (others.empty() ? "" : "; ") + note.text;
            }
        }
    }
    if (!anyNote) others = "nothing checked";
    if (!passed.empty()) others = passed + (others.empty() ? "" : "; ") + others;
    // A faulty line shows only its faults; the rest is in the details.
    verdict.text = faults.empty() ? others : faults;
    return verdict;
}

std::string RenderReport(const std::string& heading, const std::vector<CheckResult>& checks) {
    std::string report = heading + "\n\n";
    for (int line = 0; line < kLineCount; ++line) {
        const LineVerdict verdict = VerdictForLine(checks, line);
        report += VerdictLine(kLineNames[line], verdict.status, verdict.text);
    }
    for (const CheckResult& check : checks) report += VerdictLine(check.name, check.status, check.summary);
    report += VerdictLine("verdict", OverallStatus(checks), OverallText(checks));
    bool heading_done = false;
    for (const CheckResult& check : checks) {
        if (check.details.empty()) continue;
        if (!heading_done) report += "\nDetails:\n";
        heading_done = true;
        report += "  " + check.name + ":\n";
        for (const std::string& detail : check.details) report += "    " + detail + "\n";
    }
    return report;
}

int ExitCodeFor(const std::vector<CheckResult>& checks) {
    switch (OverallStatus(checks)) {
    case Status::Fault: return kExitFault;
    case Status::NotSeen:
    case Status::Incomplete: return kExitNotWhole;
    default: return kExitGood;
    }
}

}  // namespace gpio_check
