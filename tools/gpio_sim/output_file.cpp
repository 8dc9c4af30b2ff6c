#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

namespace gpio_sim {
namespace {

// Paths the signal handler may unlink; a slot is in use while its first
// byte is not 0. Fixed storage: a handler can neither allocate nor lock.
constexpr int kSlots = 8;
char g_temporaries[kSlots][PATH_MAX];

int ClaimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (g_temporaries[i][0] == '\0') {
            std::memcpy(g_temporaries[i] + 1, path.c_str() + 1, path.size());
            g_temporaries[i][0] = path[0];  // publish last
            return i;
        }
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot >= 0) g_temporaries[slot][0] = '\0';
}

extern "C" void RemoveTemporariesAndDie(int signalNumber) {
    for (auto& path : g_temporaries) {
        if (path[0] != '\0') unlink(path);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

std::string Describe(const std::string& what, int error) { return what + ": " + std::strerror(error); }

bool WriteAll(int fd, const std::string& content) {
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool OutputFile::Open(const std::string& path, std::string& error) {
    Discard();
    path_ = path;
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            error = "cannot write '" + path + "': it is a directory";
            return false;
        }
        if (access(path.c_str(), W_OK) != 0) {
            error = Describe("cannot write '" + path + "'", errno);
            return false;
        }
        if (!S_ISREG(existing.st_mode)) {
            direct_ = true;
            return true;
        }
    }

    const auto slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::vector<char> pattern(directory.begin(), directory.end());
    const std::string hidden = "." + name + ".XXXXXX";
    pattern.insert(pattern.end(), hidden.begin(), hidden.end());
    pattern.push_back('\0');
    fd_ = mkstemp(pattern.data());
    if (fd_ < 0) {
        error = Describe("cannot write '" + path + "'", errno);
        return false;
    }
    temporaryPath_ = pattern.data();
    slot_ = ClaimSlot(temporaryPath_);
    return true;
}

bool OutputFile::Commit(const std::string& content, std::string& error) {
    if (direct_) {
        const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        const bool written = fd >= 0 && WriteAll(fd, content);
        const int writeError = errno;
        if (fd >= 0) close(fd);
        direct_ = false;
        if (!written) error = Describe("cannot write '" + path_ + "'", writeError);
        return written;
    }
    if (fd_ < 0) {
        error = "'" + path_ + "' was not opened";
        return false;
    }
    // A replaced file keeps its permissions; a new one gets the usual ones.
    struct stat existing {};
    const mode_t mode = stat(path_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode();
    bool done = WriteAll(fd_, content) && fchmod(fd_, mode) == 0 && fsync(fd_) == 0;
    int commitError = errno;
    if (close(fd_) != 0 && done) {
        done = false;
        commitError = errno;
    }
    fd_ = -1;
    if (!done) {
        Discard();
        error = Describe("cannot write '" + path_ + "'", commitError);
        return false;
    }
    if (rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        const int renameError = errno;
        Discard();
        error = Describe("cannot write '" + path_ + "'", renameError);
        return false;
    }
    ReleaseSlot(slot_);
    slot_ = -1;
    temporaryPath_.clear();
    return true;
}

void OutputFile::Discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporaryPath_.empty()) unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
    ReleaseSlot(slot_);
    slot_ = -1;
    direct_ = false;
}

void RemoveTemporariesOnSignals() {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored on purpose (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = RemoveTemporariesAndDie;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace gpio_sim
