// A VCD from outside, read from memory as pxa-gpio-check reads a file or a
// pipe: channels by name and by index.

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace gpio_check;
    Capture capture;
    std::string error;
    MemorySource byName(data, size);
    ReadVcd(byName, "fuzz.vcd", {}, capture, error);
    MemorySource byIndex(data, size);
    ReadVcd(byIndex, "fuzz.vcd", {"", "", 0, 2}, capture, error);
    return 0;
}
