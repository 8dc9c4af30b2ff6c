#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device_executable.h"

namespace gpio_bench {
namespace {

// Far above any CE program (the device's is 6 KiB): a larger file is not one.
constexpr std::size_t kLargestExecutable = 16u << 20;

}  // namespace

bool ReadDeviceExecutable(const std::string& path, std::vector<std::uint8_t>& file, std::string& error) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        error = "--exe: cannot read '" + path + "': " + std::strerror(errno);
        return false;
    }
    file.clear();
    std::uint8_t buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        file.insert(file.end(), buffer, buffer + got);
        if (file.size() > kLargestExecutable) break;
    }
    const bool failed = std::ferror(in) != 0;
    const int readError = errno;
    std::fclose(in);
    if (failed) {
        error = "--exe: cannot read '" + path + "': " + std::strerror(readError);
        return false;
    }
    if (file.size() > kLargestExecutable) {
        error = "--exe: '" + path + "' is larger than any Windows CE program (16 MiB)";
        return false;
    }
    return true;
}

}  // namespace gpio_bench
