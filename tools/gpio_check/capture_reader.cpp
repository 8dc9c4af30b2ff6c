#include "capture_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace gpio_check {

bool ReadCaptureFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                     std::string& error) {
    capture = Capture{};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    // Enough to see a VCD's first keyword past blank lines, or past the line
    // sigrok-cli puts ahead of the header when it converts a VCD.
    char head[512];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    const std::string start(head, got);
    if (start.compare(0, 4, "PK\x03\x04") == 0) return ReadSigrokSession(path, channels, capture, error);
    const std::size_t first = start.find_first_not_of(" \t\r\n");
    if ((first != std::string::npos && start[first] == '$') || start.find("\n$") != std::string::npos) return ReadVcdFile(path, channels, capture, error);
    const bool sr = path.size() > 3 && path.compare(path.size() - 3, 3, ".sr") == 0;
    error = path + (got == 0 ? ": empty file"
                    : sr     ? ": not a sigrok session (a .sr file is a zip archive)"
                             : ": neither a sigrok session (.sr) nor a VCD");
    return false;
}

}  // namespace gpio_check
