#include "capture_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "scratch_directory.h"

namespace gpio_check {
namespace {

// A descriptor read once, in order, from the bytes already looked at on.
class DescriptorSource : public ByteSource {
public:
    DescriptorSource(int fd, std::string head) : fd_(fd), head_(std::move(head)) {}
    long Read(char* buffer, std::size_t size) override {
        if (pos_ < head_.size()) {
            const std::size_t n = std::min(size, head_.size() - pos_);
            std::memcpy(buffer, head_.data() + pos_, n);
            pos_ += n;
            return static_cast<long>(n);
        }
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, size);
            if (got >= 0 || errno != EINTR) return static_cast<long>(got);
        }
    }

private:
    int fd_;
    std::string head_;
    std::size_t pos_ = 0;
};

// The first `size` bytes or all there are: a pipe hands them over in pieces.
bool ReadHead(int fd, std::size_t size, std::string& head) {
    head.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, &head[got], size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    head.resize(got);
    return true;
}

// A private file for a session read from a pipe, gone with its directory
// when this goes.
class SpoolFile {
public:
    ~SpoolFile() { Remove(); }
    bool Create(std::string& error) {
        if (!dir_.Make("pxa-gpio-check.XXXXXX", "session.sr")) {
            const int made = errno;
            error = "cannot make a temporary directory in " + gpio_bench::ScratchDirectory::Parent() + ": " +
                    std::strerror(made);
            return false;
        }
        fd_ = ::open(dir_.Path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error = "cannot make " + dir_.Path() + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    bool Write(const char* data, std::size_t size, std::string& error) {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = "cannot write " + dir_.Path() + ": " + std::strerror(errno);
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Close(std::string& error) {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            error = "cannot write " + dir_.Path() + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    const std::string& Path() const { return dir_.Path(); }
    void Remove() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        dir_.Remove();
    }

private:
    gpio_bench::ScratchDirectory dir_;  // removed should a signal end the checker meanwhile
    int fd_ = -1;
};

// libsigrok reads a session by its name, more than once: one from a pipe is
// copied to a private file first, up to `maxBytes`. So is a file when the
// descriptor cannot be named (no /proc).
bool ReadPipedSession(const std::string& path, DescriptorSource& in, const ChannelMap& channels, Capture& capture,
                      std::string& error, std::uint64_t maxBytes) {
    SpoolFile spool;
    std::string problem;
    if (!spool.Create(problem)) {
        error = path + ": a session from a pipe is copied to a file first: " + problem;
        return false;
    }
    std::uint64_t total = 0;
    char buffer[65536];
    for (;;) {
        const long got = in.Read(buffer, sizeof buffer);
        if (got < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0) break;
        total += static_cast<std::uint64_t>(got);
        if (total > maxBytes) {
            error = path + ": a sigrok session from a pipe may hold at most " + std::to_string(maxBytes >> 20) +
                    " MB: save it to a file and give that";
            return false;
        }
        if (!spool.Write(buffer, static_cast<std::size_t>(got), problem)) {
            error = path + ": a session from a pipe is copied to a file first: " + problem;
            return false;
        }
    }
    if (!spool.Close(problem)) {
        error = path + ": " + problem;
        return false;
    }
    return ReadSigrokSession(spool.Path(), path, channels, capture, error);
}

// A name for the open file itself: whatever later happens to `path`
// (replaced, a symlink turned elsewhere), the session checked is the one
// libsigrok reads. Empty when there is none.
std::string NameOfOpenFile(int fd, const struct stat& opened) {
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    struct stat named {};
    if (::stat(name.c_str(), &named) != 0 || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
        return "";
    }
    return name;
}

}  // namespace

bool ReadCaptureFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                     std::string& error) {
    return ReadCaptureFile(path, channels, capture, error, kMaxSpooledSessionBytes);
}

bool ReadCaptureFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                     std::string& error, std::uint64_t maxSpooledBytes) {
    capture = Capture{};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        error = path + ": is a directory, not a capture file";
        return false;
    }
    // Enough to see a VCD's first keyword past blank lines, or past the line
    // sigrok-cli puts ahead of the header when it converts a VCD.
    std::string head;
    if (!ReadHead(fd, 512, head)) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const bool regular = S_ISREG(status.st_mode);
    if (head.compare(0, 4, "PK\x03\x04") == 0) {
        DescriptorSource in(fd, head);
        const std::string opened = regular ? NameOfOpenFile(fd, status) : "";
        return !opened.empty() ? ReadSigrokSession(opened, path, channels, capture, error)
                               : ReadPipedSession(path, in, channels, capture, error, maxSpooledBytes);
    }
    const std::size_t first = head.find_first_not_of(" \t\r\n");
    if ((first != std::string::npos && head[first] == '$') || head.find("\n$") != std::string::npos) {
        DescriptorSource in(fd, head);
        return ReadVcd(in, path, channels, capture, error);
    }
    const bool sr = path.size() > 3 && path.compare(path.size() - 3, 3, ".sr") == 0;
    // The program's trace given in the capture's place, as UTF-8 or UTF-16.
    const bool trace = head.find("TolvarGPIO") != std::string::npos ||
                       head.find(std::string("T\0o\0l\0v\0a\0r\0", 12)) != std::string::npos;
    error = path + (head.empty() ? ": empty file"
                    : trace      ? ": not a capture: it looks like the program's trace; give it as --trace"
                    : sr         ? ": not a sigrok session (a .sr file is a zip archive)"
                                 : ": neither a sigrok session (.sr) nor a VCD");
    return false;
}

}  // namespace gpio_check
