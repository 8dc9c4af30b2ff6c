#include "trace_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace gpio_check {
namespace {

std::string Mebibytes(std::uint64_t bytes) {
    return bytes % (1u << 20) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

}  // namespace

bool TraceReader::Refuse(const std::string& error) {
    if (error_.empty()) error_ = error;
    return false;
}

bool TraceReader::CheckLimits() {
    if (trace_.bytes > limits_.largestBytes) {
        return Refuse("is larger than " + Mebibytes(limits_.largestBytes) +
                      ", far more than a run's trace (12 to 25 KB): is it the run's trace?");
    }
    // The first message, if any, starts past the limit: judged by where the
    // text has been split, so that where the blocks end makes no difference.
    const std::vector<TraceMessage>& messages = splitter_.Messages();
    if (messages.empty() ? splitter_.SplitCharacters() >= limits_.firstMessageWithin
                         : messages.front().offset >= limits_.firstMessageWithin) {
        return Refuse("has no message of the program in its first " + Mebibytes(limits_.firstMessageWithin) +
                      " of text: is it the run's trace?");
    }
    if (splitter_.Messages().size() > limits_.mostMessages) {
        return Refuse("holds more than " + std::to_string(limits_.mostMessages) +
                      " messages of the program, where a run prints 741: give it one run's trace");
    }
    return true;
}

bool TraceReader::Add(const char* bytes, std::size_t size) {
    if (!error_.empty()) return false;
    trace_.bytes += size;
    // Judged before the bytes are split, so that no more is kept.
    if (trace_.bytes > limits_.largestBytes) return CheckLimits();
    text_.clear();
    decoder_.Add(bytes, size, text_);
    splitter_.Add(text_);
    return CheckLimits();
}

bool TraceReader::Finish() {
    if (!error_.empty()) return false;
    text_.clear();
    decoder_.Finish(text_);
    splitter_.Add(text_);
    splitter_.Finish();
    std::string().swap(text_);
    trace_.unrecognised = splitter_.Unrecognised();
    trace_.encoding = decoder_.Encoding();
    trace_.damaged = decoder_.Damaged();
    if (!CheckLimits()) return false;
    if (splitter_.Messages().empty()) return Refuse("holds no message of the program: is it the run's trace?");
    trace_.messages = std::move(splitter_.Messages());
    return true;
}

std::vector<TraceMessage> TraceReader::HeldMessages() const {
    // The bytes kept to tell the encoding, decoded as the end would.
    TraceDecoder decoder = decoder_;
    std::string text;
    decoder.Finish(text);
    return splitter_.HeldMessages(text);
}

bool ReadTraceFile(const std::string& path, SavedTrace& trace, std::string& error, const TraceLimits& limits) {
    struct File {
        int fd;
        ~File() {
            if (fd >= 0) ::close(fd);
        }
    } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        error = "cannot read '" + path + "': " + std::strerror(errno);
        return false;
    }
    try {
        TraceReader reader(limits);
        std::vector<char> block(std::size_t{1} << 16);
        for (;;) {
            const ssize_t got = ::read(file.fd, block.data(), block.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                error = "cannot read '" + path + "': " + std::strerror(errno);
                return false;
            }
            const bool ok = got == 0 ? reader.Finish() : reader.Add(block.data(), static_cast<std::size_t>(got));
            if (!ok) {
                error = "'" + path + "' " + reader.Error();
                return false;
            }
            if (got == 0) break;
        }
        trace = std::move(reader.Trace());
        return true;
    } catch (const std::bad_alloc&) {
        error = "out of memory reading '" + path + "'";
        return false;
    }
}

}  // namespace gpio_check
