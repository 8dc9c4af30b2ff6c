#include "progress_line.h"

#include <unistd.h>

#include <cerrno>

namespace gpio_check {
namespace {

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;  // a progress line is not worth failing the check for
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

ProgressLine::ProgressLine(int fd) : fd_(fd), enabled_(::isatty(fd) != 0) {}

void ProgressLine::Show(const std::string& text) {
    if (!enabled_ || text == shown_) return;
    // Spaces over what the longer line before left, no escape sequences.
    const std::size_t blank = shown_.size() > text.size() ? shown_.size() - text.size() : 0;
    WriteAll(fd_, "\r" + text + std::string(blank, ' ') + std::string(blank, '\b'));
    shown_ = text;
}

void ProgressLine::End() {
    if (!enabled_ || shown_.empty()) return;
    WriteAll(fd_, "\n");
    shown_.clear();
}

}  // namespace gpio_check
