#ifndef TOOLS_GPIO_CHECK_CHECK_REPORT_H
#define TOOLS_GPIO_CHECK_CHECK_REPORT_H

// The report for a terminal: one verdict line for each line and for each
// check, then the details.

#include <string>
#include <vector>

#include "verdict.h"

namespace gpio_check {

// The exit codes: a script reading them is never told "all good" on too little.
constexpr int kExitGood = 0;      // a whole run seen, every check ran and passed
constexpr int kExitFault = 1;     // a fault of the board found
constexpr int kExitBadUse = 2;    // bad use, or an input that cannot be read
constexpr int kExitNotWhole = 3;  // no fault found, but an input is cut off or holds no run, or
                                  // the inputs cannot show all (a trace alone: the pins not seen)

// A line's verdict from every check's notes on it: a fault first.
struct LineVerdict {
    Status status = Status::Info;
    std::string text;                 // what the report's line says
    std::vector<std::string> faults;  // each fault's note
};
LineVerdict VerdictForLine(const std::vector<CheckResult>& checks, int line);

// The verdict on the whole, as the report's last verdict line says it.
Status OverallStatus(const std::vector<CheckResult>& checks);
std::string OverallText(const std::vector<CheckResult>& checks);

const char* StatusWord(Status status);

// Ends with a verdict line on the whole: what the exit code says, and what
// is missing when it is not a whole run.
std::string RenderReport(const std::string& heading, const std::vector<CheckResult>& checks);

int ExitCodeFor(const std::vector<CheckResult>& checks);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CHECK_REPORT_H
