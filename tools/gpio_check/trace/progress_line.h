#ifndef TOOLS_GPIO_CHECK_PROGRESS_LINE_H
#define TOOLS_GPIO_CHECK_PROGRESS_LINE_H

// One line on a terminal that is overwritten in place as the run goes; on
// anything else (a file, a pipe, a test station's log) nothing at all. The
// text is shown escaped (a port's name or a fault's text cannot drive the
// terminal) and cut to one column less than the terminal is wide, so that
// it never wraps and overwrites itself.

#include <cstddef>
#include <string>

namespace gpio_check {

class ProgressLine {
public:
    // Shown on `fd` only if it is a terminal.
    explicit ProgressLine(int fd);
    bool Enabled() const { return enabled_; }
    // Replaces the line shown; the same text again writes nothing.
    void Show(const std::string& text);
    // Leaves the last line standing and moves to the next.
    void End();
    // The terminal's width now: its window size, else $COLUMNS, else 80.
    std::size_t Columns() const;

private:
    int fd_;
    bool enabled_;
    std::string shown_;
};

// `text` escaped and cut to at most `columns` characters, "..." ending a cut one.
std::string FitProgressText(const std::string& text, std::size_t columns);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_PROGRESS_LINE_H
