#include "progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "shown_text.h"

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

bool ContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Characters, not bytes: escaped text holds whole UTF-8 sequences only.
std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (char c : text) count += ContinuationByte(c) ? 0 : 1;
    return count;
}

}  // namespace

std::string FitProgressText(const std::string& text, std::size_t columns) {
    std::string shown = gpio_bench::ShownText(text, gpio_bench::kShownMessageBytes);
    if (CharacterCount(shown) <= columns) return shown;
    const std::size_t keep = columns > 3 ? columns - 3 : 0;
    std::size_t at = 0;
    for (std::size_t characters = 0; at < shown.size(); ++at) {
        if (!ContinuationByte(shown[at]) && characters++ == keep) break;
    }
    return shown.substr(0, at) + std::string(columns - keep, '.');
}

ProgressLine::ProgressLine(int fd) : fd_(fd), enabled_(::isatty(fd) != 0) {}

std::size_t ProgressLine::Columns() const {
    struct winsize size {};
    if (::ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    // A terminal that does not know its size (a serial console, some ptys).
    const char* variable = std::getenv("COLUMNS");
    if (variable != nullptr) {
        char* end = nullptr;
        const long columns = std::strtol(variable, &end, 10);
        if (end != variable && *end == '\0' && columns >= 10 && columns <= 10000) {
            return static_cast<std::size_t>(columns);
        }
    }
    return 80;
}

void ProgressLine::Show(const std::string& text) {
    if (!enabled_) return;
    // One column spare: a line filling the last column would wrap on some terminals.
    const std::string fitted = FitProgressText(text, Columns() - 1);
    if (fitted == shown_) return;
    // Spaces over what the longer line before left, no escape sequences.
    const std::size_t before = CharacterCount(shown_), now = CharacterCount(fitted);
    const std::size_t blank = before > now ? before - now : 0;
    WriteAll(fd_, "\r" + fitted + std::string(blank, ' ') + std::string(blank, '\b'));
    shown_ = fitted;
}

void ProgressLine::End() {
    if (!enabled_ || shown_.empty()) return;
    WriteAll(fd_, "\n");
    shown_.clear();
}

}  // namespace gpio_check
