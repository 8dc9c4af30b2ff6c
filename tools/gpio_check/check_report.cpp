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
        std::string faults, others;
        bool anyNote = false;
        for (const CheckResult& check : checks) {
            for (const LineNote& note : check.lineNotes) {
                if (note.line != line) continue;
                anyNote = true;
                if (note.status == Status::Fault) {
                    status = Status::Fault;
                    faults += (faults.empty() ? "" : "; ") + note.text;
                } else {
                    if (note.status == Status::Incomplete && status != Status::Fault) status = Status::Incomplete;
                    if (note.status == Status::Ok && status == Status::Info) status = Status::Ok;
                    others += (others.empty() ? "" : "; ") + note.text;
                }
            }
        }
        if (!anyNote) others = "nothing checked";
        report += VerdictLine(kLineNames[line], status, faults + (faults.empty() || others.empty() ? "" : "; ") + others);
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
