#include "check_report.h"

#include <cstdio>

namespace gpio_check {
namespace {

const char* StatusWord(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::Info: return "info";
    case Status::Incomplete: return "cut off";
    case Status::Fault: return "FAULT";
    }
    return "?";
}

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

std::string Overall(const std::vector<CheckResult>& checks) {
    std::string faulty, missing;
    for (const CheckResult& check : checks) {
        if (check.status == Status::Fault) faulty += (faulty.empty() ? "" : ", ") + check.name;
        if (check.status == Status::Incomplete) {
            missing += (missing.empty() ? "" : "; ") + check.name + ": " + check.summary;
        }
    }
    switch (Worst(checks)) {
    case Status::Fault:
        return VerdictLine("verdict", Status::Fault,
                           "the board does not do what the program asks; found by: " + faulty +
                               (missing.empty() ? "" : "; and not all was checked"));
    case Status::Incomplete:
        return VerdictLine("verdict", Status::Incomplete, "no fault found, but not a whole run: " + missing);
    default: return VerdictLine("verdict", Status::Ok, "a whole run seen; every check ran and passed");
    }
}

}  // namespace

std::string RenderReport(const std::string& heading, const std::vector<CheckResult>& checks) {
    std::string report = heading + "\n\n";
    for (int line = 0; line < kLineCount; ++line) {
        // A fault first: it is what the reader looks for.
        Status status = Status::Info;
        std::string faults, passed, others;
        bool anyNote = false;
        for (const CheckResult& check : checks) {
            for (const LineNote& note : check.lineNotes) {
                if (note.line != line) continue;
                anyNote = true;
                if (note.status == Status::Fault) {
                    status = Status::Fault;
                    faults += (faults.empty() ? "" : "; ") + note.text;
                } else if (note.status == Status::Ok) {
                    // What passed before what is only reported.
                    if (status == Status::Info) status = Status::Ok;
                    passed += (passed.empty() ? "" : "; ") + note.text;
                } else {
                    if (note.status == Status::Incomplete && status != Status::Fault) status = Status::Incomplete;
                    others += (others.empty() ? "" : "; ") + note.text;
                }
            }
        }
        if (!anyNote) others = "nothing checked";
        if (!passed.empty()) others = passed + (others.empty() ? "" : "; ") + others;
        // A faulty line shows only its faults; the rest is in the details.
        report += VerdictLine(kLineNames[line], status, faults.empty() ? others : faults);
    }
    for (const CheckResult& check : checks) report += VerdictLine(check.name, check.status, check.summary);
    report += Overall(checks);
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
    switch (Worst(checks)) {
    case Status::Fault: return kExitFault;
    case Status::Incomplete: return kExitNotWhole;
    default: return kExitGood;
    }
}

}  // namespace gpio_check
