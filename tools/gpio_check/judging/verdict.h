#ifndef TOOLS_GPIO_CHECK_VERDICT_H
#define TOOLS_GPIO_CHECK_VERDICT_H

// What one check found: a verdict for the check as a whole, what it says
// about each line, and the details a person needs to act on it.

#include <string>
#include <utility>
#include <vector>

namespace gpio_check {

enum class Status {
    Ok,
    Info,        // nothing to judge against, only reported (e.g. read-phase levels)
    NotSeen,     // the inputs cannot show it (e.g. the pins from a trace alone): not the board's fault
    Incomplete,  // the input stops short, or holds no run: not the board's fault
    Fault,       // the board does not do what the program asks
};

// 0 is GPIO33, 1 is GPIO80, in the order of the program's 2-bit value.
constexpr int kLineCount = 2;
constexpr const char* kLineNames[kLineCount] = {"GPIO33", "GPIO80"};

struct LineNote {
    int line;
    Status status;
    std::string text;
};

struct CheckResult {
    explicit CheckResult(std::string checkName = "") : name(std::move(checkName)) {}

    std::string name;
    Status status = Status::Ok;
    std::string summary;
    std::vector<std::string> details;
    std::vector<LineNote> lineNotes;

    // Raises the status to `worse` if it is worse than the present one.
    void Raise(Status worse) {
        if (static_cast<int>(worse) > static_cast<int>(status)) status = worse;
    }
    void Note(int line, Status lineStatus, const std::string& text) {
        lineNotes.push_back({line, lineStatus, text});
        Raise(lineStatus);
    }
};

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_VERDICT_H
