// Runs the exercise on the simulated board, on its virtual clock, and writes
// the GPIO unit's access log to the file named on the command line: one
// access a line, "R|W OFFSET VALUE" in 0x%08x form, in bus order. Other
// records of the same run (the emulated board's bus log) are compared with it.

#include <cstdio>
#include <string>

#include "TolvarGPIOTest.h"
#include "simulated_board.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ACCESS_LOG\n", argv[0]);
        return 2;
    }
    host::SimulatedBoard& board = host::SimulatedBoard::Instance();
    board.PowerUp();
    board.CaptureTrace();
    board.UseVirtualClock();
    if (TolvarGPIOTest(nullptr, nullptr, nullptr, 0) != 0) {
        std::fprintf(stderr, "the exercise did not run:\n%s", board.Trace().c_str());
        return 1;
    }
    std::string text;
    for (const auto& access : board.Gpio().AccessLog()) text += host::FormatAccess(access) + "\n";

    const std::string path = argv[1];
    const std::string partial = path + ".partial";
    FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        std::perror(partial.c_str());
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}
