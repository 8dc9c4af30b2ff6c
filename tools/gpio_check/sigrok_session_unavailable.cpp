// Built when libsigrok's C++ bindings were not found: the checker still reads
// VCD, and says how to read a session.

#include "capture_reader.h"

namespace gpio_check {

bool ReadSigrokSession(const std::string& path, const ChannelMap&, Capture& capture,
                       std::string& error) {
    capture = Capture{};
    error = path + ": this build cannot read sigrok sessions (it was built without libsigrok's "
                   "C++ bindings, Debian packages libsigrokcxx-dev and libglibmm-2.4-dev); "
                   "convert it: sigrok-cli -i " + path + " -O vcd > capture.vcd";
    return false;
}

}  // namespace gpio_check
