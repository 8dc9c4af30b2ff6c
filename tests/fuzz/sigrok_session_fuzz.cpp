// A sigrok session from outside: an archive (starting "PK") has its
// metadata checked from memory and, if that passes, is read through
// libsigrok from a private temporary file; anything else is parsed as the
// metadata's INI text alone.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture_reader.h"
#include "sigrok_metadata.h"

namespace {

const std::string& SessionPath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/session-fuzz.XXXXXX";
        const int fd = mkstemp(&pattern[0]);
        if (fd >= 0) close(fd);
        std::atexit([] { std::remove(SessionPath().c_str()); });
        return pattern;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace gpio_check;
    SessionLayout layout;
    std::string error;
    if (size < 2 || data[0] != 'P' || data[1] != 'K') {
        ParseSessionMetadata(std::string(reinterpret_cast<const char*>(data), size), layout, error);
        return 0;
    }
    if (!ReadSessionLayout(data, size, layout, error)) return 0;
    std::FILE* file = std::fopen(SessionPath().c_str(), "wb");
    if (file == nullptr) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) return 0;
    Capture capture;
    ReadSigrokSession(SessionPath(), {"", "", 0, 1}, capture, error);
    ReadSigrokSession(SessionPath(), {}, capture, error);
    return 0;
}
