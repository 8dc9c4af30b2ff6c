#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>  // program_invocation_short_name (GNU)
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace gpio_bench {
namespace {

// Paths the signal handler may unlink; a slot is in use while its first
// byte is not 0. Fixed storage: a handler can neither allocate nor lock.
// Beside each, the private directory it is the only file of, if any, which
// goes after it.
constexpr int kSlots = 8;
char g_temporaries[kSlots][PATH_MAX];
char g_directories[kSlots][PATH_MAX];

int ClaimSlot(const std::string& path, const std::string& directory = "") {
    if (path.empty() || path.size() >= PATH_MAX || directory.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (g_temporaries[i][0] == '\0') {
            std::memcpy(g_directories[i], directory.c_str(), directory.size() + 1);
            std::memcpy(g_temporaries[i] + 1, path.c_str() + 1, path.size());
            g_temporaries[i][0] = path[0];  // publish last
            return i;
        }
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot < 0) return;
    g_temporaries[slot][0] = '\0';
    g_directories[slot][0] = '\0';
}

// Signals that end the process by default, and whose handling it can
// change: everything but stop, continue, and those ignored by default.
bool EndsTheProcess(int signalNumber) {
    switch (signalNumber) {
    case SIGKILL: case SIGSTOP: case SIGTSTP: case SIGTTIN: case SIGTTOU:
    case SIGCONT: case SIGCHLD: case SIGURG: case SIGWINCH:
        return false;
    default:
        return true;
    }
}

// Empties a private directory from a signal handler: whatever a library
// put there beside the held file (libzip's temporary while it rewrites the
// archive) would keep the directory. Only raw system calls: no allocation.
void EmptyPrivateDirectory(const char* directory) {
    const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    alignas(8) static char entries[4096];
    long length;
    while ((length = syscall(SYS_getdents64, fd, entries, sizeof entries)) > 0) {
        for (long at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(entries + at);
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) unlinkat(fd, name, 0);
            at += entry->d_reclen;
        }
    }
    close(fd);
}

extern "C" void RemoveTemporariesAndDie(int signalNumber) {
    for (int i = 0; i < kSlots; ++i) {
        if (g_temporaries[i][0] == '\0') continue;
        unlink(g_temporaries[i]);
        if (g_directories[i][0] == '\0') continue;
        EmptyPrivateDirectory(g_directories[i]);
        rmdir(g_directories[i]);
    }
    if (signalNumber == SIGPIPE) {
        // The tool's own name: pxa-gpio-sim and pxa-gpio-check both end here.
        const char* program = program_invocation_short_name;
        static const char message[] =
            ": cannot write: broken pipe (its reader went away); no output file written\n";
        if (write(STDERR_FILENO, program, strlen(program)) < 0 ||
            write(STDERR_FILENO, message, sizeof message - 1) < 0) {
            // Nowhere left to say it; the exit code does.
        }
        _exit(2);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);  // delivered when the handler returns
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

// The descriptor a path names when it is one of this process's own
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N), else -1. Opening such a path
// anew is not the same: for a pseudo-terminal's master it makes a new
// terminal, for a socket it fails, and a file would be written from its start.
int OwnDescriptorNamed(const std::string& path) {
    if (path == "/dev/stdin") return STDIN_FILENO;
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    const std::string ownProcess = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/", ownProcess.c_str()}) {
        if (path.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string number = path.substr(prefix.size());
        if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) {
            return -1;
        }
        return std::atoi(number.c_str());
    }
    return -1;
}

// The same through symbolic links (a link to /proc/self/fd/1, or into
// /proc/self/fd).
int OwnDescriptorThrough(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        int own = OwnDescriptorNamed(path);
        if (own >= 0) return own;
        const auto lastSlash = path.rfind('/');
        char parent[PATH_MAX];
        if (lastSlash != std::string::npos && lastSlash > 0 &&
            realpath(path.substr(0, lastSlash).c_str(), parent) != nullptr) {
            own = OwnDescriptorNamed(parent + path.substr(lastSlash));
        }
        if (own >= 0) return own;
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length <= 0) return -1;
        target[length] = '\0';
        const auto slash = path.rfind('/');
        path = target[0] == '/' || slash == std::string::npos ? std::string(target)
                                                              : path.substr(0, slash + 1) + target;
    }
    return -1;
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

DiskCalls& OutputDiskCalls() {
    static DiskCalls calls{fsync, std::rename};
    return calls;
}

bool OutputFile::Open(const std::string& path, std::size_t expectedSize, std::string& error) {
    Discard();
    path_ = path;
    const int own = OwnDescriptorThrough(path);
    if (own >= 0) {
        const int flags = fcntl(own, F_GETFL);
        if (flags < 0) {
            error = "cannot write '" + path + "': descriptor " + std::to_string(own) + " is not open";
            return false;
        }
        // One closed on exec was opened here, after the start (another
        // output's temporary): never the caller's.
        const int descriptorFlags = fcntl(own, F_GETFD);
        if (descriptorFlags < 0 || (descriptorFlags & FD_CLOEXEC) != 0) {
            error = "cannot write '" + path + "': descriptor " + std::to_string(own) +
                    " is not one the process was started with";
            return false;
        }
        if ((flags & O_ACCMODE) == O_RDONLY) {
            error = "cannot write '" + path + "': descriptor " + std::to_string(own) + " is open only for reading";
            return false;
        }
        directFd_ = own;
        return true;
    }
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
        // A terminal or /dev/null takes whatever comes, in any order.
        if (S_ISCHR(existing.st_mode)) {
            direct_ = true;
            return true;
        }
        // The pipe or file the shell opened for standard output or error:
        // written through the descriptor, after what was written there before.
        for (int standard : {STDOUT_FILENO, STDERR_FILENO}) {
            struct stat stream {};
            if (fstat(standard, &stream) == 0 && stream.st_dev == existing.st_dev &&
                stream.st_ino == existing.st_ino) {
                directFd_ = standard;
                return true;
            }
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
    // Created and listed for the signal handler as one step.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    const int createError = errno;
    if (fd_ >= 0) {
        temporaryPath_ = pattern.data();
        slot_ = ClaimSlot(temporaryPath_);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd_ < 0) {
        error = Describe("cannot write '" + path + "'", createError);
        return false;
    }
    // A full disk shows now, not after the run. A file system that cannot
    // reserve just finds out at the end.
    const int reserved = expectedSize == 0 ? 0 : posix_fallocate(fd_, 0, static_cast<off_t>(expectedSize));
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) {
        Discard();
        error = Describe("cannot write '" + path + "'", reserved);
        return false;
    }
    return true;
}

bool OutputFile::WriteDirect(const std::string& content, std::string& error) {
    int fd = directFd_;
    bool noReader = false;
    if (fd < 0) {
        // Without a reader a pipe's open would wait for one for ever; then
        // the writes wait for room as usual.
        fd = open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
        struct stat pipe {};
        noReader = fd < 0 && errno == ENXIO && stat(path_.c_str(), &pipe) == 0 && S_ISFIFO(pipe.st_mode);
        if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    bool written = fd >= 0 && WriteAll(fd, content);
    int writeError = errno;
    if (noReader) {
        error = "cannot write '" + path_ + "': no process reads it";
        direct_ = false;
        return false;
    }
    if (fd >= 0 && fd != directFd_ && close(fd) != 0 && written) {
        written = false;
        writeError = errno;
    }
    direct_ = false;
    directFd_ = -1;
    if (!written) error = Describe("cannot write '" + path_ + "'", writeError);
    return written;
}

bool OutputFile::WriteTemporary(const std::string& content, std::string& error) {
    // A replaced file keeps its permissions; a new one gets the usual ones.
    struct stat existing {};
    const mode_t mode = stat(path_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode();
    // Over the reserved room, then cut to the content.
    bool done = WriteAll(fd_, content) && ftruncate(fd_, static_cast<off_t>(content.size())) == 0 &&
                fchmod(fd_, mode) == 0 && OutputDiskCalls().sync(fd_) == 0;
    int commitError = errno;
    if (close(fd_) != 0 && done) {
        done = false;
        commitError = errno;
    }
    fd_ = -1;
    if (!done) error = Describe("cannot write '" + path_ + "'", commitError);
    return done;
}

bool OutputFile::Publish(std::string& error) {
    if (OutputDiskCalls().rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        error = Describe("cannot write '" + path_ + "'", errno);
        return false;
    }
    ReleaseSlot(slot_);
    slot_ = -1;
    temporaryPath_.clear();
    // The rename itself is on the disk once the directory is synced. Best
    // effort: the file is in place either way.
    const auto slash = path_.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path_.substr(0, slash + 1);
    const int directoryFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd >= 0) {
        OutputDiskCalls().sync(directoryFd);
        close(directoryFd);
    }
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
    directFd_ = -1;
}

bool OutputFile::Commit(const std::string& content, std::string& error) {
    return CommitAll({{this, content}}, error);
}

bool CommitAll(const std::vector<PendingOutput>& outputs, std::string& error) {
    bool written = true;
    for (const auto& output : outputs) {
        if (written && output.file->fd_ >= 0) written = output.file->WriteTemporary(output.content, error);
    }
    // Special files cannot be taken back, so they come after every temporary.
    for (const auto& output : outputs) {
        if (written && (output.file->direct_ || output.file->directFd_ >= 0)) {
            written = output.file->WriteDirect(output.content, error);
        }
    }
    if (!written) {
        for (const auto& output : outputs) output.file->Discard();
        return false;
    }
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    bool published = true;
    for (const auto& output : outputs) {
        if (output.file->temporaryPath_.empty()) continue;
        // Renames only fail when the directory changed under the run.
        if (published) published = output.file->Publish(error);
        else output.file->Discard();
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return published;
}

unsigned ReserveStandardDescriptors() {
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed |= 1u << fd;
        open("/dev/null", O_RDWR);  // takes the lowest free descriptor: this one
    }
    return closed;
}

bool FlushStandardOutput(std::string& error) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    error = errno != 0 ? Describe("cannot write standard output", errno) : "cannot write standard output";
    return false;
}

int HoldForRemovalOnSignal(const std::string& file, const std::string& directory) {
    return ClaimSlot(file, directory);
}

void ReleaseFromRemovalOnSignal(int hold) { ReleaseSlot(hold); }

void RemoveTemporariesOnSignals() {
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (!EndsTheProcess(signalNumber)) continue;
        // A signal ignored on purpose (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = RemoveTemporariesAndDie;
        sigfillset(&action.sa_mask);  // one signal at a time
        sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace gpio_bench
