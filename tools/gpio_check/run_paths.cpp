#include "run_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "same_file.h"

namespace gpio_check {
namespace {

std::string DirectoryOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An input that is there and may be read; a capture's messages as its reader words them.
bool CheckInput(const std::string& path, bool capture, std::string& error) {
    const auto fail = [&](const std::string& why) {
        error = capture ? path + ": " + why : "cannot read '" + path + "': " + why;
        return false;
    };
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return fail(std::strerror(errno));
    if (S_ISDIR(status.st_mode)) return capture ? fail("is a directory, not a capture file") : fail(std::strerror(EISDIR));
    if (::access(path.c_str(), R_OK) != 0) return fail(std::strerror(errno));
    return true;
}

// An output that can be made: a file replaced by renaming a temporary
// beside it needs its directory writable; a device or pipe, itself.
bool CheckOutput(const std::string& option, const std::string& path, std::string& error) {
    const auto fail = [&](int why) {
        error = "cannot write " + path + " (" + option + "): " + std::strerror(why);
        return false;
    };
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return fail(EISDIR);
        if (!S_ISREG(status.st_mode)) return ::access(path.c_str(), W_OK) == 0 || fail(errno);
    } else if (errno != ENOENT) {
        return fail(errno);
    }
    const std::string directory = DirectoryOf(path);
    struct stat place {};
    if (::stat(directory.c_str(), &place) != 0) return fail(errno);
    if (!S_ISDIR(place.st_mode)) return fail(ENOTDIR);
    return ::access(directory.c_str(), W_OK | X_OK) == 0 || fail(errno);
}

}  // namespace

std::string DefaultSavedTraceName(long long unixSeconds, int attempt) {
    const std::time_t when = static_cast<std::time_t>(unixSeconds);
    struct tm local {};
    ::localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string("pxa-gpio-check-trace-") + stamp + (attempt > 1 ? "-" + std::to_string(attempt) : "") + ".txt";
}

bool CheckRunPaths(const CheckOptions& options, const std::string& savedTrace, std::string& error,
                   bool savedByDefault) {
    if (!options.tracePath.empty() && !CheckInput(options.tracePath, false, error)) return false;
    if (!options.capturePath.empty() && !CheckInput(options.capturePath, true, error)) return false;
    if (!options.tracePath.empty() && !options.capturePath.empty() &&
        NameSameFile(options.tracePath, options.capturePath)) {
        error = "--capture " + options.capturePath + " is the trace too: each is a file of its own";
        return false;
    }
    // No output replaces an input, or another output, however the paths are spelled.
    const std::string jsonPath = options.jsonPath == "-" ? "" : options.jsonPath;
    const std::pair<const std::string*, const char*> readInputs[] = {{&options.tracePath, "trace"},
                                                                     {&options.capturePath, "capture"}};
    for (const auto& [input, what] : readInputs) {
        if (input->empty()) continue;
        if (!options.svgPath.empty() && NameSameFile(options.svgPath, *input)) {
            error = "--svg " + options.svgPath + " is the " + what +
                    " it would be drawn from: give the picture a file of its own";
            return false;
        }
        if (!jsonPath.empty() && NameSameFile(jsonPath, *input)) {
            error = "--json " + jsonPath + " is the " + what +
                    " it would be judged from: give the verdict a file of its own";
            return false;
        }
        if (!savedTrace.empty() && NameSameFile(savedTrace, *input)) {
            error = "--save-trace " + savedTrace + " is the " + what + ": give the kept trace a file of its own";
            return false;
        }
    }
    if (!jsonPath.empty() && !options.svgPath.empty() && NameSameFile(jsonPath, options.svgPath)) {
        error = "--json " + jsonPath + " is the --svg picture too: give each a file of its own";
        return false;
    }
    for (const std::string* output : {&options.svgPath, &jsonPath}) {
        if (!savedTrace.empty() && !output->empty() && NameSameFile(savedTrace, *output)) {
            error = "--save-trace " + savedTrace + " is " + (output == &jsonPath ? "--json" : "--svg") +
                    " too: give each a file of its own";
            return false;
        }
    }
    const std::vector<std::pair<const char*, const std::string*>> outputs = {
        {"--svg", &options.svgPath},
        {"--json", &jsonPath},
        {savedByDefault ? "the port's trace is kept here as it comes; --save-trace FILE keeps it elsewhere"
                        : "--save-trace",
         &savedTrace}};
    for (const auto& [option, path] : outputs) {
        if (!path->empty() && !CheckOutput(option, *path, error)) return false;
    }
    return true;
}

int MakeSavedTrace(const std::string& path, bool unique, std::string& made, std::string& error) {
    const long long now = static_cast<long long>(std::time(nullptr));
    for (int attempt = 1; attempt <= 100; ++attempt) {
        made = unique ? DefaultSavedTraceName(now, attempt) : path;
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | (unique ? O_EXCL : O_TRUNC);
        const int fd = ::open(made.c_str(), flags, 0666);
        if (fd >= 0) return fd;
        if (!unique || errno != EEXIST) {
            error = "cannot keep the trace in " + made + ": " + std::strerror(errno) +
                    (unique ? " (--save-trace FILE keeps it elsewhere)" : "");
            return -1;
        }
    }
    error = "cannot keep the trace: " + made + " and the 99 names before it are taken";
    return -1;
}

}  // namespace gpio_check
