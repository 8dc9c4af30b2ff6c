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
    for (const CheckResult& check : checks) {
        if (check.status == Status::Fault) return 1;
    }
    return 0;
}

}  // namespace gpio_check
