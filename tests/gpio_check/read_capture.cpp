// Loads a capture file as the board checker does and prints what it holds:
// for the load measurement (scripts/measure_capture_load.sh) and the tests.
// Usage: read_capture FILE [GPIO33-CHANNEL GPIO80-CHANNEL]

#include <cinttypes>
#include <cstdio>
#include <string>

#include "capture_reader.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: read_capture FILE [GPIO33-CHANNEL GPIO80-CHANNEL]\n");
        return 2;
    }
    gpio_check::ChannelMap channels;
    if (argc == 4) {
        channels.gpio33 = argv[2];
        channels.gpio80 = argv[3];
    }
    gpio_check::Capture capture;
    std::string error;
    if (!gpio_check::ReadCaptureFile(argv[1], channels, capture, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    std::printf("changes %zu %zu end_ps %" PRIu64 " rate_hz %" PRIu64 "\n", capture.gpio33.changes.size(),
                capture.gpio80.changes.size(), capture.endPs, capture.sampleRateHz);
    return 0;
}
