#ifndef TOOLS_GPIO_CHECK_CHECK_REPORT_H
#define TOOLS_GPIO_CHECK_CHECK_REPORT_H

// The report for a terminal: one verdict line for each line and for each
// check, then the details.

#include <string>
#include <vector>

#include "verdict.h"

namespace gpio_check {

std::string RenderReport(const std::string& heading, const std::vector<CheckResult>& checks);

// 1 when any check found a fault of the board, else 0.
int ExitCodeFor(const std::vector<CheckResult>& checks);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CHECK_REPORT_H
