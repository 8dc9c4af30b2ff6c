#include "live_trace.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "expected_run.h"
#include "run_progress.h"

namespace gpio_check {
namespace {

using Clock = std::chrono::steady_clock;

// A message held back by the reader (it may go on in the next bytes) is
// looked at once the line has been idle this long, or this often while
// bytes keep coming: the closing message is seen at once, and the reading
// costs little while the run goes.
constexpr auto kIdleLook = std::chrono::milliseconds(20);
constexpr auto kBusyLook = std::chrono::milliseconds(200);
// The time on the progress line goes on while nothing comes.
constexpr auto kClockTick = std::chrono::seconds(1);

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The bytes as they came, kept where nothing later can lose them.
bool Keep(int fd, const char* bytes, std::size_t size, std::string& error) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd, bytes + done, size - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            error = wrote < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// The progress line ended on every way out of the reading.
struct EndsProgress {
    ProgressLine* line;
    ~EndsProgress() {
        if (line != nullptr) line->End();
    }
};

int Milliseconds(Clock::duration d) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1 << 30));
}

}  // namespace

bool ReadTraceLive(const LiveSource& source, LiveTrace& live, std::string& error, const TraceLimits& limits) {
    const EndsProgress ending{source.progress};
    int keepFd = source.keepFd;
    try {
        TraceReader reader(limits);
        const ExpectedRun expected = RunExpectedExercise(0);  // the base is not compared while following
        std::vector<char> block(std::size_t{1} << 16);
        const Clock::time_point opened = Clock::now();
        Clock::time_point started = opened, lastByte = opened, lastLook = opened;
        bool begun = false, unlooked = false;
        RunProgress progress;
        const auto look = [&](Clock::time_point now) {
            std::vector<TraceMessage> messages = reader.SplitMessages();
            std::vector<TraceMessage> held = reader.HeldMessages();
            messages.insert(messages.end(), held.begin(), held.end());
            progress = FollowRun(messages, expected);
            if (progress.started && !begun) {
                begun = true;
                started = now;
            }
            lastLook = now;
            unlooked = false;
        };
        const auto show = [&](Clock::time_point now) {
            if (source.progress != nullptr) source.progress->Show(ProgressText(progress, Seconds(now - started)));
        };
        const auto quietFor = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(source.quietSeconds));
        if (source.progress != nullptr) {
            source.progress->Show(progress.phase + " on " + source.name);
        }
        for (;;) {
            const Clock::time_point now = Clock::now();
            // Waits for bytes, for a held message to be looked at, for the
            // progress line's clock, or for the quiet time to run out.
            int timeout = -1;
            const auto wait = [&](Clock::time_point until) {
                const int ms = Milliseconds(until - now);
                timeout = timeout < 0 ? ms : std::min(timeout, ms);
            };
            if (unlooked) wait(std::min(lastByte + kIdleLook, lastLook + kBusyLook));
            if (begun && source.progress != nullptr) wait(now + kClockTick);
            if (begun && source.port) wait(lastByte + quietFor);
            struct pollfd watch {source.fd, POLLIN, 0};
            const int ready = ::poll(&watch, 1, timeout);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) {
                error = "cannot read '" + source.name + "': " + std::strerror(errno);
                return false;
            }
            const Clock::time_point woke = Clock::now();
            if (ready == 0) {
                if (unlooked) look(woke);
                show(woke);
                if (source.port && progress.closed) {
                    live.end = LiveEnd::Closed;
                    break;
                }
                if (begun && source.port && woke - lastByte >= quietFor) {
                    live.end = LiveEnd::Quiet;
                    break;
                }
                continue;
            }
            const ssize_t got = ::read(source.fd, block.data(), block.size());
            const bool hungUp = (watch.revents & (POLLHUP | POLLERR)) != 0;
            if (got < 0 && (errno == EINTR || (errno == EAGAIN && !hungUp))) continue;
            if (got < 0 && errno == EAGAIN && source.port) {
                live.end = LiveEnd::HungUp;
                break;
            }
            // A terminal whose other side went away reads EIO or nothing.
            if ((got < 0 && errno == EIO && source.port) || (got == 0 && source.port)) {
                live.end = LiveEnd::HungUp;
                break;
            }
            if (got < 0) {
                error = "cannot read '" + source.name + "': " + std::strerror(errno);
                return false;
            }
            if (got == 0) {
                live.end = LiveEnd::EndOfInput;
                break;
            }
            if (keepFd >= 0 && !Keep(keepFd, block.data(), static_cast<std::size_t>(got), live.keepError)) {
                keepFd = -1;  // the run goes on; the report says the kept copy is short
            }
            if (!reader.Add(block.data(), static_cast<std::size_t>(got))) {
                error = "'" + source.name + "' " + reader.Error();
                return false;
            }
            lastByte = woke;
            unlooked = true;
            if (woke - lastLook >= kBusyLook) {
                look(woke);
                show(woke);
                if (source.port && progress.closed) {
                    live.end = LiveEnd::Closed;
                    break;
                }
            }
        }
        const Clock::time_point ended = Clock::now();
        if (unlooked) look(ended);
        live.seconds = begun ? Seconds(ended - started) : 0;
        if (live.end == LiveEnd::HungUp && !begun) {
            error = "'" + source.name + "' hung up before the run began: no message of the program came " +
                    "(the board's cable or adapter, or the port's other side, went away)";
            return false;
        }
        if (!reader.Finish()) {
            error = "'" + source.name + "' " + reader.Error();
            return false;
        }
        live.trace = std::move(reader.Trace());
        progress = FollowRun(live.trace.messages, expected);
        show(ended);
        return true;
    } catch (const std::bad_alloc&) {
        error = "out of memory reading '" + source.name + "'";
        return false;
    }
}

std::string DescribeLiveEnd(const LiveTrace& live, double quietSeconds) {
    char text[96];
    switch (live.end) {
    case LiveEnd::Closed: return "read until the run's closing message";
    case LiveEnd::EndOfInput: return "read to its end";
    case LiveEnd::HungUp: return "the port hung up";
    case LiveEnd::Quiet:
        std::snprintf(text, sizeof text, "stopped after %.1f s without a byte", quietSeconds);
        return text;
    }
    return "";
}

}  // namespace gpio_check
